// The story assembler: a readable text form of the bytecode compiled through
// the story writer. The syntax is described in tools/storyasm/README.md.
#pragma once

#include <string>
#include <vector>

#include "script/story_writer.h"

// Assembles `text` into `w`; false with "line N: message" in *error.
bool StoryAsm_Assemble(const std::string& text, StoryWriter& w, std::string* error);
// Assembles and builds the story image.
bool StoryAsm_Build(const std::string& text, std::vector<uint8_t>& image, std::string* error);
// Reads a source file and writes the story file.
bool StoryAsm_AssembleFile(const std::string& sourcePath, const std::string& outputPath, std::string* error);
