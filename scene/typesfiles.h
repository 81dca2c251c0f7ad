// The scene engine's catalogue tables, read from text types files at
// start-up: cut and body file names, light types, particle descriptions,
// skins and icon sheets. Each loader reads an entry into locals and stores it
// only when it was read whole, so a cut or spoiled file never leaves half an
// entry behind.
#pragma once

#include <cstdint>
#include <string>

#include "base/vrmfile.h"

// "types\<name>.pck" when packed files are wanted and it reads, else
// "types\<name>.txt"; null after a log line when neither can be read.
VRMFile* B3DB_OpenTypesFile(const char* name);
// The text form's path of a types file ("types\\<name>.txt"), where writers put it.
std::string B3DB_TypesFilePath(const char* name);
// A types file's failure: the message, then where the reader stands in the
// file (file, line, field), in one framed error.
void B3DB_TypesError(const VRMFile* r, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Each answers 1 when its file was read to the end, 0 otherwise; a missing
// file leaves the table as the loader prepared it.
int32_t B3DB_LoadCutData();
int32_t B3DB_LoadBodyData();
int32_t B3DB_LoadLightTypeList();
int32_t B3DB_LoadParticleDescription();
int32_t B3DB_LoadSkins();
int32_t B3DB_LoadIconData();

// Frees the emitter arrays of the particle descriptions.
void B3DB_FreeParticleDescriptions();

// The icon names with their ids, ending with an empty name; "NULL" is not
// among them.
constexpr int32_t B3D_ICON_NAME_COUNT = 501;
const VRMNameValue* B3D_IconNameTable();
