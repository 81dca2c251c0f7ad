// Particles: our effect file (format in data/effects/README.md). The build copies
// it into every shader folder and writes its variants as ".fb" files.
string COMPILE_DEFINES = "TWOSIDED";

float4x4 g_mView;
float4x4 g_mProj;
int g_ZEnable = 1;
int g_ZWriteEnable = 0;
int g_AlphaBlendEnable = 1;
int g_SrcBlend = 5;
int g_DestBlend = 6;
float g_TextureAlpha = 0.0;
texture t_DiffuseTexture;
sampler s_Diffuse = sampler_state { Texture = <t_DiffuseTexture>; MinFilter = 2; MagFilter = 2; MipFilter = 2; };

// Six vertices per particle. A camera-facing particle puts all six at its
// centre and the first coordinates push each corner out in view space; an
// oriented particle has its corners in place and offsets of 0. The second
// coordinates are the picture's.
glsl vertex VS_Particle {
    out vec2 v_Tex;
    out vec4 v_Color;
    void main() {
        vec4 view = g_mView * vec4(a_Position.xyz, 1.0);
        view.xy += a_TexCoord0.xy;
        gl_Position = d3d_ClipToGL(g_mProj * view);
        v_Tex = a_TexCoord1.xy;
        v_Color = a_Color;
    }
}

glsl fragment FS_Particle {
    in vec2 v_Tex;
    in vec4 v_Color;
    void main() {
        vec4 t = texture(s_Diffuse, v_Tex);
        // Without texture alpha the texture's brightness is the coverage.
        float a = g_TextureAlpha > 0.5 ? t.a : dot(t.rgb, vec3(0.333));
        d3d_FragColor = vec4(t.rgb * v_Color.rgb, a * v_Color.a);
    }
}

technique BASE_NoLight {
    pass P0 {
        VertexShader = VS_Particle;
        PixelShader = FS_Particle;
        ZEnable = <g_ZEnable>;
        ZWriteEnable = <g_ZWriteEnable>;
        CullMode = 1;
        AlphaBlendEnable = <g_AlphaBlendEnable>;
        SrcBlend = <g_SrcBlend>;
        DestBlend = <g_DestBlend>;
        AlphaTestEnable = 0;
        ColorWriteEnable = 7;
    }
}
