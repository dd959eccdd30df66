// Draws the frame texture as a quad.
Texture2D g_texture : register(t0);
SamplerState g_pointSampler : register(s0);
SamplerState g_linearSampler : register(s1);

struct PSInput
{
    float4 position : SV_POSITION;
    float2 uv : TEXCOORD;
};

PSInput VSMain(float4 position : POSITION, float2 uv : TEXCOORD)
{
    PSInput result;
    result.position = position;
    result.uv = uv;
    return result;
}

float4 PSMain(PSInput input) : SV_TARGET
{
    return g_texture.Sample(g_pointSampler, input.uv);
}
