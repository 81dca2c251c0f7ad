// Self-lit parts (the sky, lights): their picture as it is, with no lighting
// to work out per pixel. Our effect file (format in data/effects/README.md);
// the build copies it into every shader folder and writes its variants as
// ".fb" files. A part shows what a light-mapped part of the lit effects
// shows without diffuse, specular or reflected light: its texture under the
// ambient light plus its light map.
string COMPILE_DEFINES = "TWOSIDED";

float4x4 g_mWorldViewProjection;
float4x4 g_TexMatrix = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
// Never set by the renderer: the lit effects' ambient light.
float4 g_LightAmbientIntensity = {0.2, 0.2, 0.2, 1};
float4 g_FogClip = {1, 0, 0, 0};
int g_EnableFog = 0;
float g_AlphaValue = 1.0;
float g_EnableGlow = 0.0;
float g_Brightness = 1.0;
float g_Contrast = 1.0;
float g_Saturation = 1.0;
float g_Hue = 0.0;

int g_ZEnable = 1;
int g_ZWriteEnable = 1;
int g_CullMode = 3;
int g_Wrap = 0;
int g_BlendOp = 1;
int g_AlphaBlendEnable = 0;
int g_ALPHATESTENABLE = 0;
int g_SrcBlend = 5;
int g_DestBlend = 6;
int g_SeparateAlphaBlend = 0;
int g_SrcBlendAlpha = 1;
int g_DestBlendAlpha = 1;
int g_ColorWriteEnable = 7;
int t_MinFilterTypeDiffuse = 2;
int t_FilterTypeDiffuse = 2;
int t_SamplerMaxAnisotropy = 1;

texture t_DiffuseTexture;
texture t_LightMapTexture;
sampler s_Diffuse = sampler_state {
    Texture = <t_DiffuseTexture>;
    MinFilter = <t_MinFilterTypeDiffuse>;
    MagFilter = <t_FilterTypeDiffuse>;
    MipFilter = <t_FilterTypeDiffuse>;
    MaxAnisotropy = <t_SamplerMaxAnisotropy>;
    AddressU = 1;
    AddressV = 1;
};
sampler s_LightMap = sampler_state { Texture = <t_LightMapTexture>; MinFilter = 2; MagFilter = 2; MipFilter = 2; };

glsl vertex VS_Unlit {
    out vec2 v_Tex;
    out float v_Depth;
    void main() {
        vec4 clip = g_mWorldViewProjection * a_Position;
        gl_Position = d3d_ClipToGL(clip);
        v_Tex = (mat3(g_TexMatrix) * vec3(a_TexCoord0.xy, 1.0)).xy;
        v_Depth = clip.w;
    }
}

glsl fragment FS_Unlit {
    in vec2 v_Tex;
    in float v_Depth;

    vec3 Adjust(vec3 c) {
        c = (c - 0.5) * g_Contrast + 0.5;
        c *= g_Brightness;
        float y = dot(c, vec3(0.299, 0.587, 0.114));
        c = mix(vec3(y), c, g_Saturation);
        if (g_Hue != 0.0) {
            float a = radians(g_Hue);
            float i = dot(c, vec3(0.596, -0.274, -0.322));
            float q = dot(c, vec3(0.211, -0.523, 0.312));
            float i2 = i * cos(a) - q * sin(a), q2 = i * sin(a) + q * cos(a);
            c = vec3(y + 0.956 * i2 + 0.621 * q2, y - 0.272 * i2 - 0.647 * q2, y - 1.106 * i2 + 1.703 * q2);
        }
        return clamp(c, 0.0, 1.0);
    }

    void main() {
        vec4 diffuse = texture(s_Diffuse, v_Tex);
        vec3 lightMap = texture(s_LightMap, v_Tex).rgb;
        vec3 colour = diffuse.rgb * g_LightAmbientIntensity.rgb + lightMap;
        float alpha = diffuse.a * g_AlphaValue;
        d3d_AlphaTest(alpha);
        if (g_EnableFog != 0) alpha *= clamp(g_FogClip.x - v_Depth * g_FogClip.y, 0.0, 1.0);
        // The glow mask for the bloom pass, as the lit effects write it.
        if (g_AlphaBlendEnable == 0 && g_ALPHATESTENABLE == 0 && g_EnableGlow > 0.0)
            alpha = g_EnableGlow * dot(lightMap, vec3(1.0 / 3.0));
        d3d_FragColor = vec4(Adjust(colour), alpha);
    }
}

technique DEFAULT {
    pass P0 {
        VertexShader = VS_Unlit;
        PixelShader = FS_Unlit;
        ZEnable = <g_ZEnable>;
        ZWriteEnable = <g_ZWriteEnable>;
#ifdef TWOSIDED
        CullMode = 1;
#else
        CullMode = <g_CullMode>;
#endif
        Wrap0 = <g_Wrap>;
        AlphaBlendEnable = <g_AlphaBlendEnable>;
        SrcBlend = <g_SrcBlend>;
        DestBlend = <g_DestBlend>;
        BlendOp = <g_BlendOp>;
        SeparateAlphaBlendEnable = <g_SeparateAlphaBlend>;
        SrcBlendAlpha = <g_SrcBlendAlpha>;
        DestBlendAlpha = <g_DestBlendAlpha>;
        AlphaTestEnable = <g_ALPHATESTENABLE>;
        AlphaFunc = 7;
        AlphaRef = 90;
        ColorWriteEnable = <g_ColorWriteEnable>;
    }
}
