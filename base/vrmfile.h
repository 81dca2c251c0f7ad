// VRMFile: the field reader and writer of the program's data files. Every data
// file exists in a text form (fields ended by ';', '/' comments) and a binary
// form (big-endian fields, NUL-terminated strings) with the same sequence of
// fields. Reading works on the whole file in memory; the reader keeps one error
// flag, after which every read yields 0 and moves nothing. Writing goes to a
// QelFile.
#pragma once

#include <cstdint>

struct QelFile;

// One row of a tag table: sections of a file are marked by tags.
struct VRMTagRow {
    const char* longName;
    const char* tag;      // 4 characters (binary form)
    const char* endTag;   // 4 characters (binary form)
    const char* keyword;  // text form
    int32_t id;
};

// Names of enumeration values and flag bits; the table ends with an empty (or null) name.
struct VRMNameValue {
    const char* name;
    int32_t value;
};

// The body-file table set by Qel_ReaderInit (18 rows) and the cut-file table (12 rows).
extern const VRMTagRow g_VRMBodyTags[18];
extern const VRMTagRow g_VRMCutTags[12];
// {"SCTYPE_LASER" 0, "SCTYPE_COCKPIT" 1, "SCTYPE_DOCKING" 2}
extern const VRMNameValue g_VRMSceneTypes[4];

class VRMFile {
public:
    QelFile* out;   // written by the Write methods; null when reading
    uint8_t* base;  // input buffer; null disables the bounds check
    uint8_t* cursor;
    uint32_t size;  // bytes in the input buffer (a NUL follows them)
    const VRMTagRow* tags;
    int32_t rowCount;
    int32_t binary;  // 1 binary form, 0 text form
    int32_t lineStart;
    int32_t depth;  // +1 per start tag, -1 per end tag
    int32_t error;
    char* fileName;  // the name it was opened under (reading), for failure lines; null otherwise

    // Reading (read 1): the whole file, unpacked when packed is set. Writing:
    // a new file, gzip when packed is set. 1 on success; the error flag says
    // the same.
    int Open(const char* name, int read, int packed, int binaryForm, const VRMTagRow* table, int rows);
    // Closes the output file and frees the loaded buffer.
    void Close();

    int32_t ReadEnum(const VRMNameValue* names);
    int16_t ReadShort();
    int32_t ReadInt();
    uint32_t ReadUInt();
    uint16_t ReadFlags16(const VRMNameValue* names);
    uint32_t ReadFlags32(const VRMNameValue* names);
    uint8_t ReadFlags(const VRMNameValue* names);
    float ReadFloat();
    int32_t ReadFixed();
    // A new heap string (free with Qel_StrFree); null while the error flag is set.
    char* ReadString();
    // The row of the tag read (see vrmfile.cpp); rowCount - 1 on error.
    int ReadTag(int expectedRow);
    int SkipToTag();
    int Validate();

    void WriteShort(int16_t value, const char* suffix);
    void WriteInt(int32_t value, const char* suffix);
    void WriteUInt(uint32_t value, const char* suffix);
    // Text "0x%0<digits>x"; binary 16-bit when digits <= 4, else 32-bit.
    void WriteHex(uint32_t value, int digits, const char* suffix);
    // Text: the table names of the set bits joined by '|' when they cover the
    // value, else hexadecimal; binary 32-bit (ReadFlags32).
    void WriteFlags(uint32_t value, const VRMNameValue* names, const char* suffix);
    void WriteFixed(int32_t value, const char* suffix);
    void WriteSceneType(int32_t value, const char* suffix);
    // Rows rowCount - 1 and above are refused.
    void WriteTag(int row, int start);
    // Binary: the bytes and their NUL; text: the string, then the suffix.
    void WriteString(const char* text, const char* suffix = nullptr);
    // Raw text to the output file.
    void WriteText(const char* text);
};

// Where a reader stands, for the line that reports its failure: the file (its
// name and where it lies), then for the text form the line, the field on that
// line and the field's text, for the binary form the byte. A read that fails
// leaves the reader at the field it failed on; a caller that finds a value it
// cannot use reports the field read last. A new heap string (Qel_StrFree).
char* Qel_ReaderPlace(const VRMFile* r);

// Sets up a reader over a caller's buffer (no bounds check; a text buffer ends with NUL).
void Qel_ReaderInit(VRMFile* r, const void* buffer, int binaryForm);
// Passes blanks, tabs, line ends and '/' comments.
void Qel_ReaderSkip(VRMFile* r);
// One character (text: after skipping while at line start) or one byte; 0 at the end.
int Qel_ReaderReadChar(VRMFile* r);

// A new reader or writer (VRMFile::Open), never null unless out of memory;
// its error flag says whether the file opened.
VRMFile* Qel_StreamCreate(const char* name, int read, int packed, int binaryForm, const VRMTagRow* table, int rows);
// Closes and frees a reader or writer made by Qel_StreamCreate.
void Qel_CloseFileBuffer(VRMFile* r);

// The methods as plain functions.
int Qel_ReaderOpen(VRMFile* r, const char* name, int read, int packed, int binaryForm, const VRMTagRow* table,
                   int rows);
void Qel_ReaderClose(VRMFile* r);
int32_t Qel_ReaderReadEnum(VRMFile* r, const VRMNameValue* names);
int16_t Qel_ReaderReadShort(VRMFile* r);
int32_t Qel_ReaderReadInt(VRMFile* r);
uint32_t Qel_ReaderReadUInt(VRMFile* r);
uint16_t Qel_ReaderReadFlags16(VRMFile* r, const VRMNameValue* names);
uint32_t Qel_ReaderReadFlags32(VRMFile* r, const VRMNameValue* names);
uint8_t Qel_ReaderReadFlags(VRMFile* r, const VRMNameValue* names);
float Qel_ReaderReadFloat(VRMFile* r);
int32_t Qel_ReaderReadFixed(VRMFile* r);
char* Qel_StreamReadString(VRMFile* r);
int Qel_ReaderReadTag(VRMFile* r, int expectedRow);
int Qel_ReaderSkipToTag(VRMFile* r);
int Qel_ReaderValidate(VRMFile* r);
void Qel_ReaderWriteShort(VRMFile* r, int16_t value, const char* suffix);
void Qel_ReaderWriteInt(VRMFile* r, int32_t value, const char* suffix);
void Qel_ReaderWriteUInt(VRMFile* r, uint32_t value, const char* suffix);
void Qel_ReaderWriteHex(VRMFile* r, uint32_t value, int digits, const char* suffix);
void Qel_ReaderWriteFlags(VRMFile* r, uint32_t value, const VRMNameValue* names, const char* suffix);
void Qel_ReaderWriteFixed(VRMFile* r, int32_t value, const char* suffix);
void Qel_ReaderWriteSceneType(VRMFile* r, int32_t value, const char* suffix);
void Qel_StreamOpenFile(VRMFile* r, int row, int start);
void Qel_StreamWriteText(VRMFile* r, const char* text, const char* suffix = nullptr);
void Qel_ReaderWriteText(VRMFile* r, const char* text);
