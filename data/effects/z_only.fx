// Depth-only drawing: our effect file (format in data/effects/README.md). The build copies
// it into every shader folder and writes its variants as ".fb" files.
string COMPILE_DEFINES = "TWOSIDED";

float4x4 g_mWorldViewProjection;
int g_CullMode = 3;
int g_Wrap = 0;
texture t_DiffuseTexture;
sampler s_Diffuse = sampler_state { Texture = <t_DiffuseTexture>; MinFilter = 2; MagFilter = 2; MipFilter = 2; };

glsl vertex VS_Z {
    out vec2 v_Tex;
    void main() {
        gl_Position = d3d_ClipToGL(g_mWorldViewProjection * a_Position);
        v_Tex = a_TexCoord0.xy;
    }
}

glsl fragment FS_Z {
    void main() { d3d_FragColor = vec4(0.0); }
}

glsl fragment FS_ZAlpha {
    in vec2 v_Tex;
    void main() {
        float a = texture(s_Diffuse, v_Tex).a;
        if (a < 90.0 / 255.0) discard;
        d3d_FragColor = vec4(0.0, 0.0, 0.0, a);
    }
}

technique Z_Only_Fast {
    pass P0 {
        VertexShader = VS_Z;
        PixelShader = FS_Z;
        ZEnable = 1;
        ZWriteEnable = 1;
#ifdef TWOSIDED
        CullMode = 1;
#else
        CullMode = <g_CullMode>;
#endif
        Wrap0 = <g_Wrap>;
        AlphaBlendEnable = 0;
        AlphaTestEnable = 0;
        ColorWriteEnable = 0;
    }
}

technique Z_Only_Alpha {
    pass P0 {
        VertexShader = VS_Z;
        PixelShader = FS_ZAlpha;
        ZEnable = 1;
        ZWriteEnable = 1;
#ifdef TWOSIDED
        CullMode = 1;
#else
        CullMode = <g_CullMode>;
#endif
        Wrap0 = <g_Wrap>;
        AlphaBlendEnable = 0;
        AlphaTestEnable = 0;
        ColorWriteEnable = 0;
    }
}
