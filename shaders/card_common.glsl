// The per-draw record of the card pipeline (160 bytes, std430) and the push constants.
struct CardUniforms {
  mat4 mvp;
  vec2 size;
  float cornerRadius;
  float alpha;
  float brightness;
  float hasTexture;
  float isReflection;
  float floorY;
  vec4 modelY;
  float reflectionStrength;
  float reflectionFade;
  float highlight;
  float isOutline;
  float isShadow;
  float plateOpacity;
  vec2 contentExtent;
  vec2 contentOrigin;
  vec2 pictureScale;
};

layout(std430, set = 0, binding = 0) readonly buffer CardRecords {
  CardUniforms records[];
};

layout(push_constant) uniform DrawConstants {
  uint recordIndex;   // vertex bytes 2
  uint unused0;
  uint unused1;
  uint unused2;
  vec4 accent;        // fragment bytes 0
  float contentsScale;  // fragment bytes 1
} draw;

// What a card draw is, as the vertex shader hands it to the fragment shader.
const uint kCardKindPicture = 0u;  // a card, a reflection, a chrome mark or the overlay's chrome
const uint kCardKindShadow = 1u;
const uint kCardKindOutline = 2u;

// The colour of a card without a picture, and of a card's part outside its picture.
const vec3 kPlainCard = vec3(0.16, 0.17, 0.19);

// The picture coordinate of a quad as seen from its front. A card turned away from the viewer (the
// back of a ring) is seen from behind: its picture and its marks read as from the front rather
// than in mirror writing. A floor reflection (`mirrored`) rasterizes its card's front as a back
// face, and mirrors the card top to bottom only.
vec2 frontPicture(vec2 picture, bool frontFacing, bool mirrored) {
  return vec2(frontFacing != mirrored ? picture.x : 1.0 - picture.x, picture.y);
}

// Signed distance from a rounded rectangle centred on the origin (negative inside); the radius is
// already no larger than the smaller half side.
float roundedBox(vec2 p, vec2 halfSize, float r) {
  vec2 q = abs(p) - halfSize + r;
  return length(max(q, 0.0)) + min(max(q.x, q.y), 0.0) - r;
}
