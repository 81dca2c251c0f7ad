// Writes packed files: a key byte (key XOR 0xD1), then a gzip stream whose
// every byte is XOR key.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A gzip member of the data (zlib, the given level), not yet scrambled.
std::vector<uint8_t> Tool_Gzip(const std::vector<uint8_t>& data, int level = 9);
// The packed form of the data.
std::vector<uint8_t> Tool_Pack(const std::vector<uint8_t>& data, uint8_t key, int level = 9);
// Scrambles a gzip member with the key and puts the key byte in front.
std::vector<uint8_t> Tool_ScramblePacked(const std::vector<uint8_t>& gzip, uint8_t key);
bool Tool_WritePackedFile(const std::string& path, const std::vector<uint8_t>& data, uint8_t key, std::string* error);
