// Effects: lens-flare parts and scene buffers: our effect file (format in data/effects/README.md). The build copies
// it into every shader folder and writes its variants as ".fb" files.
string COMPILE_DEFINES = "BUMP,TWOSIDED";

// ---- parameters the renderer sets (matrices are row-major: M * v is v times M)
float4x4 g_mWorld;
float4x4 g_mWorldIT;
float4x4 g_mWorldViewProjection;
float4x4 g_mViewInverse;
float4x4 g_TexMatrix = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

float4 LightDir_Dir0 = {0, 0, -1, 0};
float4 LightDir_Color0 = {1, 1, 1, 0};
// Never set by the renderer: this default is the ambient light.
float4 g_LightAmbientIntensity = {0.2, 0.2, 0.2, 1};
struct PointLight {
    float4 position;
    float4 color;
    float4 atten;
};
PointLight g_LightPoint[10];
int g_nNumLightPoint = 0;

float4 g_MatEmissiveColor = {0, 0, 0, 0};
float g_MatDiffuseStrength = 1.0;
float g_MatSpecularStrength = 0.0;
float g_MatSpecularPower = 16.0;
float g_MatReflectionStrength = 0.0;

float4 g_FogClip = {1, 0, 0, 0};
int g_EnableFog = 0;
float g_AlphaValue = 1.0;
float g_EnableGlow = 0.0;
float g_Brightness = 1.0;
float g_Contrast = 1.0;
float g_Saturation = 1.0;
float g_Hue = 0.0;
float p_DetailMapBlendWeight = 0.0;

// Direct3D enum values that drive the pass states.
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
texture t_BumpTexture;
texture t_SpecularTexture;
texture t_LightMapTexture;
textureCUBE t_CubeMapTexture;
texture t_DetailTexture;
textureCUBE t_NormalizeTex0;
textureCUBE t_NormalizeTex1;
texture t_POW_Tex;
texture t_Derive_ZTex;
texture t_varsk_LightingTex;
texture t_thuun_LightingTex;
texture t_drasz_LightingTex;
texture t_ossyl_LightingTex;
texture t_zevra_LightingTex;
texture t_meluq_LightingTex;
texture t_quorin_LightingTex;
texture t_solen_LightingTex;
texture t_asteroid_LightingTex;
texture t_Race_Lighting;

sampler s_Diffuse = sampler_state {
    Texture = <t_DiffuseTexture>;
    MinFilter = <t_MinFilterTypeDiffuse>;
    MagFilter = <t_FilterTypeDiffuse>;
    MipFilter = <t_FilterTypeDiffuse>;
    MaxAnisotropy = <t_SamplerMaxAnisotropy>;
    AddressU = 1;
    AddressV = 1;
};
sampler s_Bump = sampler_state { Texture = <t_BumpTexture>; MinFilter = 2; MagFilter = 2; MipFilter = 2; };
sampler s_Specular = sampler_state { Texture = <t_SpecularTexture>; MinFilter = 2; MagFilter = 2; MipFilter = 2; };
sampler s_LightMap = sampler_state { Texture = <t_LightMapTexture>; MinFilter = 2; MagFilter = 2; MipFilter = 2; };
samplerCUBE s_CubeMap = sampler_state { Texture = <t_CubeMapTexture>; MinFilter = 2; MagFilter = 2; };
sampler s_Detail = sampler_state { Texture = <t_DetailTexture>; MinFilter = 2; MagFilter = 2; MipFilter = 2; };

float4x4 g_mViewProjection;

// Scene buffers: vertices already in world space. Their colour word is
// always 0, so the texture alone gives the colour.
glsl vertex VS_Instance {
    out vec2 v_Tex;
    void main() {
        gl_Position = d3d_ClipToGL(g_mViewProjection * vec4(a_Position.xyz, 1.0));
        v_Tex = a_TexCoord0.xy;
    }
}

glsl fragment FS_Instance {
    in vec2 v_Tex;
    void main() {
        vec4 c = texture(s_Diffuse, v_Tex);
        d3d_AlphaTest(c.a);
        d3d_FragColor = c;
    }
}

glsl vertex VS_Lit {
    out vec2 v_Tex;
    out vec3 v_Normal;
    out vec3 v_Tangent;
    out vec3 v_Binormal;
    out vec3 v_World;
    out float v_Depth;
    void main() {
        vec4 clip = g_mWorldViewProjection * a_Position;
        gl_Position = d3d_ClipToGL(clip);
        v_Tex = (mat3(g_TexMatrix) * vec3(a_TexCoord0.xy, 1.0)).xy;
        v_Normal = mat3(g_mWorldIT) * a_Normal;
        v_Tangent = mat3(g_mWorldIT) * a_Tangent;
        v_Binormal = mat3(g_mWorldIT) * a_Binormal;
        v_World = (g_mWorld * a_Position).xyz;
        v_Depth = clip.w;
    }
}

// Shared by the lit fragment stages: lights, colour adjustment, fog, glow.
glsl fragment FS_Lit {
    in vec2 v_Tex;
    in vec3 v_Normal;
    in vec3 v_Tangent;
    in vec3 v_Binormal;
    in vec3 v_World;
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
        vec3 n = normalize(v_Normal);
        vec3 light = g_LightAmbientIntensity.rgb;
        light += max(dot(n, normalize(LightDir_Dir0.xyz)), 0.0) * LightDir_Color0.rgb * g_MatDiffuseStrength;
        // Bounded by the count alone (the renderer never sets more than the
        // ten slots; the index is held inside them all the same): a constant
        // bound lets the compiler unroll ten copies of the body, which costs a
        // software rasteriser most of a second on the first draw.
        for (int i = 0; i < g_nNumLightPoint; ++i) {
            PointLight p = g_LightPoint[min(i, 9)];
            vec3 d = p.position.xyz - v_World;
            float r = length(d);
            vec3 at = p.atten.xyz;
            float f = 1.0 / max(at.x + at.y * r + at.z * r * r, 1e-4);
            light += max(dot(n, d / max(r, 1e-4)), 0.0) * p.color.rgb * f * g_MatDiffuseStrength;
        }
        vec3 colour = diffuse.rgb * light + g_MatEmissiveColor.rgb;
        vec3 view = normalize(g_mViewInverse[3].xyz - v_World);
        vec3 h = normalize(normalize(LightDir_Dir0.xyz) + view);
        colour += texture(s_Specular, v_Tex).rgb * g_MatSpecularStrength *
                  pow(max(dot(n, h), 0.0), g_MatSpecularPower) * LightDir_Color0.rgb;
        vec3 lightMap = texture(s_LightMap, v_Tex).rgb;
        colour += lightMap;
        colour = mix(colour, colour * texture(s_Detail, v_Tex * 8.0).rgb * 2.0, p_DetailMapBlendWeight);
        float alpha = diffuse.a * g_AlphaValue;
        d3d_AlphaTest(alpha);
        if (g_EnableFog != 0) alpha *= clamp(g_FogClip.x - v_Depth * g_FogClip.y, 0.0, 1.0);
        // The glow mask for the bloom pass rides in alpha when nothing blends.
        if (g_AlphaBlendEnable == 0 && g_ALPHATESTENABLE == 0)
            alpha = max(alpha, g_EnableGlow * dot(lightMap, vec3(0.333)));
        d3d_FragColor = vec4(Adjust(colour), alpha);
    }
}

// The same with the bump map and the reflection.
glsl fragment FS_LitBump {
    in vec2 v_Tex;
    in vec3 v_Normal;
    in vec3 v_Tangent;
    in vec3 v_Binormal;
    in vec3 v_World;
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
        vec3 n = normalize(v_Normal);
        // A light-mapped or reflecting part may come without a bump map (an
        // unbound map reads black) or without tangent frames: it keeps its
        // vertex normal rather than one made of nothing.
        vec3 texel = texture(s_Bump, v_Tex).xyz;
        if (texel != vec3(0.0) && dot(v_Tangent, v_Tangent) > 0.0 && dot(v_Binormal, v_Binormal) > 0.0) {
            vec3 bump = texel * 2.0 - 1.0;
            n = normalize(bump.x * normalize(v_Tangent) + bump.y * normalize(v_Binormal) + bump.z * n);
        }
        vec3 light = g_LightAmbientIntensity.rgb;
        light += max(dot(n, normalize(LightDir_Dir0.xyz)), 0.0) * LightDir_Color0.rgb * g_MatDiffuseStrength;
        // Bounded by the count alone (the renderer never sets more than the
        // ten slots; the index is held inside them all the same): a constant
        // bound lets the compiler unroll ten copies of the body, which costs a
        // software rasteriser most of a second on the first draw.
        for (int i = 0; i < g_nNumLightPoint; ++i) {
            PointLight p = g_LightPoint[min(i, 9)];
            vec3 d = p.position.xyz - v_World;
            float r = length(d);
            vec3 at = p.atten.xyz;
            float f = 1.0 / max(at.x + at.y * r + at.z * r * r, 1e-4);
            light += max(dot(n, d / max(r, 1e-4)), 0.0) * p.color.rgb * f * g_MatDiffuseStrength;
        }
        vec3 colour = diffuse.rgb * light + g_MatEmissiveColor.rgb;
        vec3 view = normalize(g_mViewInverse[3].xyz - v_World);
        vec3 h = normalize(normalize(LightDir_Dir0.xyz) + view);
        colour += texture(s_Specular, v_Tex).rgb * g_MatSpecularStrength *
                  pow(max(dot(n, h), 0.0), g_MatSpecularPower) * LightDir_Color0.rgb;
        vec3 lightMap = texture(s_LightMap, v_Tex).rgb;
        colour += lightMap;
        colour += texture(s_CubeMap, reflect(-view, n)).rgb * g_MatReflectionStrength;
        colour = mix(colour, colour * texture(s_Detail, v_Tex * 8.0).rgb * 2.0, p_DetailMapBlendWeight);
        float alpha = diffuse.a * g_AlphaValue;
        d3d_AlphaTest(alpha);
        if (g_EnableFog != 0) alpha *= clamp(g_FogClip.x - v_Depth * g_FogClip.y, 0.0, 1.0);
        // The glow mask for the bloom pass rides in alpha when nothing blends.
        if (g_AlphaBlendEnable == 0 && g_ALPHATESTENABLE == 0)
            alpha = max(alpha, g_EnableGlow * dot(lightMap, vec3(0.333)));
        d3d_FragColor = vec4(Adjust(colour), alpha);
    }
}

technique DEFAULT {
    pass P0 {
        VertexShader = VS_Lit;
        PixelShader = FS_Lit;
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

technique BUMPMAP_LOW {
    pass P0 {
        VertexShader = VS_Lit;
        PixelShader = FS_LitBump;
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

technique INSTANCE {
    pass P0 {
        VertexShader = VS_Instance;
        PixelShader = FS_Instance;
        ZEnable = 1;
        ZWriteEnable = 0;
        CullMode = 1;
        AlphaBlendEnable = 1;
        SrcBlend = 5;
        DestBlend = 6;
        AlphaTestEnable = 0;
        ColorWriteEnable = 7;
    }
}

// Bullets add light.
technique INSTANCE_BULLETS {
    pass P0 {
        VertexShader = VS_Instance;
        PixelShader = FS_Instance;
        ZEnable = 1;
        ZWriteEnable = 0;
        CullMode = 1;
        AlphaBlendEnable = 1;
        SrcBlend = 5;
        DestBlend = 2;
        AlphaTestEnable = 0;
        ColorWriteEnable = 7;
    }
}
