// The cut converter: our own readable cut sources to text cuts and binary cuts
// (versions 5 and 6, embedded bodies included), and a readable listing of a
// loaded cut. The syntax is in tools/bodyconv/README.md; in short, one
// statement a line ('#' starts a comment):
//   version N                  the text cut's version (default 6)
//   info TEXT                  binary: an "INFO" chunk in place of "VERS"
//   path NUMBER REFERENCE      a new path; its body (with flag j a cut)
//     value1 N | value2 N      the two path values ("C", "F")
//     name NAME                the path name ("N")
//     ref NAME                 the reference in place of the path's ("E")
//     flags LETTER...          c l ld f s p j b
//     constraint N VALUE       a position constraint ("K")
//     matrix V1 ... V9         "M" (text only; the reader drops it)
//     note FRAME TEXT          a note ("T"; no text: an empty one)
//     key KIND DURATION V...   a key: its key flags, its duration and the
//                              values its flags ask for, in the reader's order
//     body NUMBER              an embedded body: a model source (see
//     ...                      bodyconv.h) up to "endbody"
//     endbody
#pragma once

#include <cstdint>
#include <string>

struct J3D_Cut;

// The text cut of a source; false with a message on a bad source.
bool Tool_CutSourceToText(const std::string& source, std::string* text, std::string* error);
// Writes the binary cut of a source (version 5: references are numbers) to a
// file of the game folder. Embedded bodies go through the engine's own body
// reader and writer, so the engine's scene state must exist.
bool Tool_WriteBinaryCut(const std::string& source, int version, const char* fileName, std::string* error);
// A readable listing of a cut, its paths and keys; key flags are shown masked
// (the binary reader marks its keys 0x80).
std::string Tool_DumpCut(const J3D_Cut* cut, uint32_t keyFlagMask = 0xFFFFFFFFu);
