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

// Fragments find their texel from their own position in the target they
// draw into, so every pass samples texel centres and the chain does not creep
// by half a texel per pass. Rows run top down in targets and textures alike.
// Each glow map is half the screen; the scene is the screen.

// The glow mask lives in the scene's alpha; one glow texel averages 2 x 2 of the scene.
glsl fragment FS_Mask {
    in vec2 v_Tex;
    void main() {
        vec2 uv = gl_FragCoord.xy / vec2(textureSize(s_Glow1, 0));
        vec4 c = texture(s_Scene, uv);
        d3d_FragColor = vec4(c.rgb * c.a, 1.0);
    }
}

// A tent of nine taps (weights 1 2 3 4 5 4 3 2 1, sum 25) in five fetches:
// each pair of neighbouring texels is one linear fetch placed where their
// weights balance (1 and 2 texels out: 10/7; 3 and 4 out: 10/3).
glsl fragment FS_BlurX {
    in vec2 v_Tex;
    void main() {
        vec2 size = vec2(textureSize(s_Glow1, 0));
        vec2 uv = gl_FragCoord.xy / size;
        vec2 t = vec2(1.0 / size.x, 0.0);
        vec3 s = texture(s_Glow1, uv).rgb * 5.0;
        s += (texture(s_Glow1, uv - t * (10.0 / 7.0)).rgb + texture(s_Glow1, uv + t * (10.0 / 7.0)).rgb) * 7.0;
        s += (texture(s_Glow1, uv - t * (10.0 / 3.0)).rgb + texture(s_Glow1, uv + t * (10.0 / 3.0)).rgb) * 3.0;
        d3d_FragColor = vec4(s / 25.0, 1.0);
    }
}

glsl fragment FS_BlurY {
    in vec2 v_Tex;
    void main() {
        vec2 size = vec2(textureSize(s_Glow2, 0));
        vec2 uv = gl_FragCoord.xy / size;
        vec2 t = vec2(0.0, 1.0 / size.y);
        vec3 s = texture(s_Glow2, uv).rgb * 5.0;
        s += (texture(s_Glow2, uv - t * (10.0 / 7.0)).rgb + texture(s_Glow2, uv + t * (10.0 / 7.0)).rgb) * 7.0;
        s += (texture(s_Glow2, uv - t * (10.0 / 3.0)).rgb + texture(s_Glow2, uv + t * (10.0 / 3.0)).rgb) * 3.0;
        d3d_FragColor = vec4(s / 25.0, 1.0);
    }
}

// The scene at its own texels plus the glow, scaled up from half size.
glsl fragment FS_Combine {
    in vec2 v_Tex;
    void main() {
        vec2 uv = gl_FragCoord.xy / max(ViewPortSize.xy, vec2(1.0));
        vec3 c = texture(s_Scene, uv).rgb + texture(s_Glow1, uv).rgb;
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
