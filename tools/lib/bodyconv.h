// The body converter: our own simple model sources to text bodies, and text
// bodies to binary ones through the engine's own reader and writer.
//
// Model source, one statement a line ('#' starts a comment):
//   name NAME                 the body's name
//   mtl NAME                  defines a material (its index is its order)
//     tex TEXTURE             its base texture
//     lightmap TEXTURE        its light map (third texture), added unlit
//     flags N                 material flags added to the text
//     effect FX [WORD]        makes it an effect material of that effect
//     param NAME TYPE V...    an effect parameter; TYPE long, bool, float,
//                             float2, float3, float4 or string
//   usemtl NAME               the material of the faces that follow
//   lod DISTANCE              starts the next level (the first is implicit,
//                             distance 1000); point indices restart with it
//   bone NAME                 a bone of the current level
//   v X Y Z                   a point (scaled by 1024, rounded)
//   vw BONE WEIGHT ...        the weights of the last point (bone indices)
//   vt U V / vt2 U V          a first / second texture coordinate pair
//   s N | s off               smoothing group of the faces that follow
//   o NAME | g NAME           the faces that follow make a new part
//   f A[/T[/T2]] ...          a face, 1-based indices; more than four
//                             corners are split into a fan of quads
#pragma once

#include <string>

struct Body3D;

// The text body of a model source; false with a message on a bad source.
bool Tool_ModelToTextBody(const std::string& source, std::string* text, std::string* error);
// Reads "v\%05d.bod" of the working folder and writes "v\%05d.bob"; the
// engine's scene state must exist. False with a message on failure.
bool Tool_BodyTextToBinary(int id, std::string* error);
// A readable listing of a body.
std::string Tool_DumpBody(const Body3D* body);
