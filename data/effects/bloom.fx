// Bloom: glow mask, two blurs, combine: our effect file (format in data/effects/README.md). The build copies
// it into every shader folder and writes its variants as ".fb" files.
string COMPILE_DEFINES = "";

texture t_SceneMap;
texture t_GlowMap1;
texture t_GlowMap2;
float4 ViewPortSize = {640, 480, 0, 0};
sampler s_Scene = sampler_state { Texture = <t_SceneMap>; MinFilter = 2; MagFilter = 2; AddressU = 3; AddressV = 3; };
sampler s_Glow1 = sampler_state { Texture = <t_GlowMap1>; MinFilter = 2; MagFilter = 2; AddressU = 3; AddressV = 3; };
sampler s_Glow2 = sampler_state { Texture = <t_GlowMap2>; MinFilter = 2; MagFilter = 2; AddressU = 3; AddressV = 3; };

// The screen quad comes in clip space.
glsl vertex VS_Quad {
    out vec2 v_Tex;
    void main() {
        gl_Position = d3d_ClipToGL(a_Position);
        v_Tex = a_TexCoord0.xy;
    }
}

// The glow mask lives in the scene's alpha.
glsl fragment FS_Mask {
    in vec2 v_Tex;
    void main() {
        vec4 c = texture(s_Scene, v_Tex);
        d3d_FragColor = vec4(c.rgb * c.a, 1.0);
    }
}

glsl fragment FS_BlurX {
    in vec2 v_Tex;
    void main() {
        float dx = 2.0 / max(ViewPortSize.x, 1.0);
        vec3 s = vec3(0.0);
        for (int i = -4; i <= 4; ++i) s += texture(s_Glow1, v_Tex + vec2(float(i) * dx, 0.0)).rgb * (5.0 - abs(float(i)));
        d3d_FragColor = vec4(s / 25.0, 1.0);
    }
}

glsl fragment FS_BlurY {
    in vec2 v_Tex;
    void main() {
        float dy = 2.0 / max(ViewPortSize.y, 1.0);
        vec3 s = vec3(0.0);
        for (int i = -4; i <= 4; ++i) s += texture(s_Glow2, v_Tex + vec2(0.0, float(i) * dy)).rgb * (5.0 - abs(float(i)));
        d3d_FragColor = vec4(s / 25.0, 1.0);
    }
}

glsl fragment FS_Combine {
    in vec2 v_Tex;
    void main() {
        vec3 c = texture(s_Scene, v_Tex).rgb + texture(s_Glow1, v_Tex).rgb;
        d3d_FragColor = vec4(clamp(c, 0.0, 1.0), 1.0);
    }
}

technique DEFAULT {
    pass Mask <string RenderColorTarget0 = "t_GlowMap1";> {
        VertexShader = VS_Quad;
        PixelShader = FS_Mask;
        ZEnable = 0;
        ZWriteEnable = 0;
        CullMode = 1;
        AlphaBlendEnable = 0;
        AlphaTestEnable = 0;
        ColorWriteEnable = 15;
    }
    pass BlurX <string RenderColorTarget0 = "t_GlowMap2";> {
        VertexShader = VS_Quad;
        PixelShader = FS_BlurX;
    }
    pass BlurY <string RenderColorTarget0 = "t_GlowMap1";> {
        VertexShader = VS_Quad;
        PixelShader = FS_BlurY;
    }
    pass Combine {
        VertexShader = VS_Quad;
        PixelShader = FS_Combine;
        ColorWriteEnable = 7;
    }
}
