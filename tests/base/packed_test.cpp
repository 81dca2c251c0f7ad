#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>

#include "base/file.h"
#include "base/memory.h"
#include "base/packed.h"
#include "support/logcapture.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "tools/lib/packed_writer.h"

namespace {

// Text, records, noise and runs: what data files look like.
std::vector<uint8_t> MixedData(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    static const char* words[] = {"ship", "station", "sector", "laser", "shield", "0x1F;", "-12;", "NAME:", "\r\n"};
    std::vector<uint8_t> out;
    while (out.size() < size) {
        switch (rng() % 4) {
            case 0:
                for (int i = 0; i < 40; ++i) {
                    const char* w = words[rng() % 9];
                    out.insert(out.end(), w, w + strlen(w));
                    out.push_back(' ');
                }
                break;
            case 1:
                for (int i = 0; i < 64; ++i) out.push_back(uint8_t(rng() % 7));
                break;
            case 2:
                for (int i = 0; i < 200; ++i) out.push_back(uint8_t(rng()));
                break;
            default: out.insert(out.end(), 50 + rng() % 400, uint8_t(rng())); break;
        }
    }
    out.resize(size);
    return out;
}

std::vector<uint8_t> RawDeflate(const std::vector<uint8_t>& data, int level) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&z, uLong(data.size())) + 16);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// LSB-first bit writer for hand-made streams.
struct BitWriter {
    std::vector<uint8_t> bytes;
    unsigned used = 0;
    void Put(uint32_t v, unsigned n) {
        for (unsigned i = 0; i < n; ++i) {
            if (used % 8 == 0) bytes.push_back(0);
            bytes.back() |= uint8_t(((v >> i) & 1) << (used % 8));
            ++used;
        }
    }
    // Huffman codes go most significant bit first.
    void Code(uint32_t code, unsigned n) {
        for (unsigned i = n; i-- > 0;) Put((code >> i) & 1, 1);
    }
};

QelInflateResult Inflate(const std::vector<uint8_t>& in, std::vector<uint8_t>* out, size_t room) {
    out->assign(room, 0);
    size_t produced = 0;
    QelInflateResult r = Qel_InflateRaw(in.data(), in.size(), 0, out->data(), room, &produced);
    out->resize(produced);
    return r;
}

// Unpacks a file and returns its bytes; empty on failure.
std::vector<uint8_t> Unpack(const char* name) {
    auto* p = static_cast<uint8_t*>(Qel_Unpack(name, 0));
    if (!p) return {};
    std::vector<uint8_t> out(p, p + g_QelLastFileSize);
    Int_FreeMem(p, g_QelLastFileSize, 0);
    return out;
}

void PutLE32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = uint8_t(x >> (8 * i));
}

}  // namespace

TEST(Crc32, KnownValue) {
    const char* s = "123456789";
    EXPECT_EQ(Qel_Crc32(0, reinterpret_cast<const uint8_t*>(s), 9), 0xCBF43926u);
    std::vector<uint8_t> data = MixedData(10000, 3);
    EXPECT_EQ(Qel_Crc32(0, data.data(), data.size()), crc32(0, data.data(), uInt(data.size())));
}

struct RoundTripCase {
    const char* label;
    size_t size;
    int level;
    uint8_t key;
};

class PackedRoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(PackedRoundTrip, UnpacksWhatWasPacked) {
    const RoundTripCase& c = GetParam();
    TempGameFolder game;
    std::vector<uint8_t> data = MixedData(c.size, uint32_t(c.size));
    game.WriteBytes("data.pck", Tool_Pack(data, c.key, c.level));
    EXPECT_EQ(Unpack("data.pck"), data);
    EXPECT_EQ(g_QelLastFileSize, c.size);

    // The raw inflater gives the same bytes.
    std::vector<uint8_t> out;
    EXPECT_EQ(Inflate(RawDeflate(data, c.level), &out, c.size), QEL_INFLATE_OK);
    EXPECT_EQ(out, data);
}

INSTANTIATE_TEST_SUITE_P(Cases, PackedRoundTrip,
                         testing::Values(RoundTripCase{"one_byte", 1, 9, 0x00}, RoundTripCase{"stored", 70000, 0, 0x5A},
                                         RoundTripCase{"fast", 200000, 1, 0xFF},
                                         RoundTripCase{"dynamic", 1 << 20, 9, 0x3C},
                                         RoundTripCase{"default", 300001, 6, 0x80}),
                         [](const testing::TestParamInfo<RoundTripCase>& i) { return std::string(i.param.label); });

TEST(Packed, RunsAndIncompressibleData) {
    TempGameFolder game;
    std::vector<uint8_t> runs(100000, 'a');
    std::mt19937 rng(7);
    std::vector<uint8_t> noise(100000);
    for (uint8_t& b : noise) b = uint8_t(rng());
    game.WriteBytes("runs.pck", Tool_Pack(runs, 1));
    game.WriteBytes("noise.pck", Tool_Pack(noise, 2));
    EXPECT_EQ(Unpack("runs.pck"), runs);
    EXPECT_EQ(Unpack("noise.pck"), noise);
}

TEST(Packed, AlternativeMagicAndOptionalHeaderFields) {
    TempGameFolder game;
    std::vector<uint8_t> data = MixedData(5000, 11);
    std::vector<uint8_t> gz = Tool_Gzip(data);
    gz[1] = 0x9E;
    game.WriteBytes("magic.pck", Tool_ScramblePacked(gz, 0x21));
    EXPECT_EQ(Unpack("magic.pck"), data);

    // Extra field, file name and comment are skipped.
    std::vector<uint8_t> fields(gz.begin(), gz.begin() + 10);
    fields[1] = 0x8B;
    fields[3] = 4 | 8 | 16;
    for (int b : {3, 0, int('x'), int('y'), int('z')}) fields.push_back(uint8_t(b));
    for (char ch : std::string("name.txt")) fields.push_back(uint8_t(ch));
    fields.push_back(0);
    for (char ch : std::string("a comment")) fields.push_back(uint8_t(ch));
    fields.push_back(0);
    fields.insert(fields.end(), gz.begin() + 10, gz.end());
    game.WriteBytes("fields.pck", Tool_ScramblePacked(fields, 0x77));
    EXPECT_EQ(Unpack("fields.pck"), data);
}

TEST(Packed, FromACatalogMember) {
    TempGameFolder game;
    std::vector<uint8_t> data = MixedData(50000, 5);
    std::vector<ToolCatalogMember> members = Members({{"first.txt", "hello"}});
    members.push_back({"types\\TShips.pck", Tool_Pack(data, 0x42)});
    members.push_back({"last.txt", Bytes(std::string(100, 'z'))});
    game.WriteCatalog("01.cat", members);
    GeneralSession session;
    ASSERT_NE(session.State(), nullptr);
    EXPECT_EQ(Unpack("Types/tships.pck"), data);
}

struct BadPackedCase {
    const char* label;
    std::vector<uint8_t> (*make)();
    const char* message;
};

class BadPacked : public testing::TestWithParam<BadPackedCase> {};

static std::vector<uint8_t> Sample() { return MixedData(40000, 9); }

TEST_P(BadPacked, FailsWithItsMessage) {
    const BadPackedCase& c = GetParam();
    TempGameFolder game;
    game.WriteBytes("bad.pck", c.make());
    int64_t before = Int_GetMemUsed();
    LogCapture capture;
    void* p = Qel_Unpack("bad.pck", 0);
    std::string log = capture.Take();
    EXPECT_EQ(p, nullptr);
    EXPECT_NE(log.find(c.message), std::string::npos) << log;
    EXPECT_EQ(Int_GetMemUsed(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadPacked,
    testing::Values(BadPackedCase{"empty", [] { return std::vector<uint8_t>{}; }, "Error in getting compression type"},
                    BadPackedCase{"not_gzip", [] { return Tool_ScramblePacked(Bytes("plain text, no gzip"), 1); },
                                  "Error in getting compression type"},
                    BadPackedCase{"encrypted_flag",
                                  [] {
                                      auto gz = Tool_Gzip(Sample());
                                      gz[3] |= 0x20;
                                      return Tool_ScramblePacked(gz, 3);
                                  },
                                  "Error in getting compression type"},
                    BadPackedCase{"unknown_method",
                                  [] {
                                      auto gz = Tool_Gzip(Sample());
                                      gz[2] = 7;
                                      return Tool_ScramblePacked(gz, 3);
                                  },
                                  "Couldn't allocate memory for unpacked file"},
                    BadPackedCase{"size_too_small",
                                  [] {
                                      auto gz = Tool_Gzip(Sample());
                                      PutLE32(gz, gz.size() - 4, 1000);
                                      return Tool_ScramblePacked(gz, 4);
                                  },
                                  "Error in writing output"},
                    BadPackedCase{"size_zero",
                                  [] {
                                      auto gz = Tool_Gzip(Sample());
                                      PutLE32(gz, gz.size() - 4, 0);
                                      return Tool_ScramblePacked(gz, 4);
                                  },
                                  "Error in writing output"},
                    BadPackedCase{"size_too_large",
                                  [] {
                                      auto gz = Tool_Gzip(Sample());
                                      PutLE32(gz, gz.size() - 4, 50000);
                                      return Tool_ScramblePacked(gz, 4);
                                  },
                                  "Unpacked size does not match"},
                    BadPackedCase{"size_unbelievable",
                                  [] {
                                      auto gz = Tool_Gzip(Sample());
                                      PutLE32(gz, gz.size() - 4, 0xFFFFFFF0u);
                                      return Tool_ScramblePacked(gz, 4);
                                  },
                                  "is not believable"},
                    BadPackedCase{"crc",
                                  [] {
                                      auto gz = Tool_Gzip(Sample());
                                      gz[gz.size() - 8] ^= 1;
                                      return Tool_ScramblePacked(gz, 5);
                                  },
                                  "CRC error"},
                    BadPackedCase{"truncated",
                                  [] {
                                      auto gz = Tool_Gzip(Sample());
                                      std::vector<uint8_t> cut(gz.begin(), gz.begin() + 10 + 40);
                                      cut.insert(cut.end(), gz.end() - 8, gz.end());
                                      return Tool_ScramblePacked(cut, 6);
                                  },
                                  "Qel_Unpack: Error in"},
                    BadPackedCase{"invalid_block_type",
                                  [] {
                                      auto gz = Tool_Gzip(Sample());
                                      std::vector<uint8_t> bad(gz.begin(), gz.begin() + 10);
                                      bad.push_back(0x07);  // final block of type 3
                                      bad.insert(bad.end(), 20, 0);
                                      bad.insert(bad.end(), gz.end() - 8, gz.end());
                                      return Tool_ScramblePacked(bad, 6);
                                  },
                                  "Error in compressed data"}),
    [](const testing::TestParamInfo<BadPackedCase>& i) { return std::string(i.param.label); });

TEST(Packed, EmptyFileUnpacksToAnEmptyBlock) {
    TempGameFolder game;
    game.WriteBytes("empty.pck", Tool_Pack({}, 0x21));
    int64_t before = Int_GetMemUsed();
    LogCapture log;
    g_QelLastFileSize = 99;
    void* p = Qel_Unpack("empty.pck", 0);
    EXPECT_NE(p, nullptr);
    EXPECT_EQ(g_QelLastFileSize, 0u);
    EXPECT_EQ(log.Text(), "");
    Int_FreeMem(p, g_QelLastFileSize, 0);
    EXPECT_EQ(Int_GetMemUsed(), before);
}

TEST(Packed, MissingFileGivesNull) {
    TempGameFolder game;
    EXPECT_EQ(Qel_Unpack("nothing.pck", 0), nullptr);
}

TEST(Inflate, RejectsBadStreams) {
    std::vector<uint8_t> out;
    // A fixed block whose first match reaches before the output's start.
    BitWriter far;
    far.Put(1, 1);
    far.Put(1, 2);
    far.Code(1, 7);  // length symbol 257
    far.Code(0, 5);  // distance 1
    far.Code(0, 7);  // end of block
    EXPECT_EQ(Inflate(far.bytes, &out, 100), QEL_INFLATE_CORRUPT);

    // Distance symbol 30 does not exist.
    BitWriter sym30;
    sym30.Put(1, 1);
    sym30.Put(1, 2);
    sym30.Code(0x30 + 'a', 8);
    sym30.Code(1, 7);
    sym30.Code(30, 5);
    EXPECT_EQ(Inflate(sym30.bytes, &out, 100), QEL_INFLATE_CORRUPT);

    // A stored block whose length does not match its complement.
    EXPECT_EQ(Inflate({0x01, 0x05, 0x00, 0xFA, 0xF0, 'a', 'b', 'c', 'd', 'e'}, &out, 100), QEL_INFLATE_CORRUPT);
    // A stored block that promises more than there is.
    EXPECT_EQ(Inflate({0x01, 0x05, 0x00, 0xFA, 0xFF, 'a', 'b'}, &out, 100), QEL_INFLATE_SHORT);

    std::vector<uint8_t> data = MixedData(30000, 1);
    std::vector<uint8_t> raw = RawDeflate(data, 9);
    // Cut short: never a success padded with zeros.
    for (size_t cut : {size_t(1), raw.size() / 2, raw.size() - 2}) {
        std::vector<uint8_t> part(raw.begin(), raw.begin() + long(cut));
        EXPECT_NE(Inflate(part, &out, data.size()), QEL_INFLATE_OK) << cut;
    }
    // Too little room.
    EXPECT_EQ(Inflate(raw, &out, data.size() - 1), QEL_INFLATE_OVERFLOW);
    // An over-subscribed code-length code: every length 1.
    BitWriter over;
    over.Put(1, 1);
    over.Put(2, 2);
    over.Put(0, 5);
    over.Put(0, 5);
    over.Put(15, 4);
    for (int i = 0; i < 19; ++i) over.Put(1, 3);
    EXPECT_EQ(Inflate(over.bytes, &out, 100), QEL_INFLATE_CORRUPT);
}

TEST(Inflate, AStreamCutShortIsShortWhereverItIsCut) {
    // Past the end the inflater reads zero bits; whatever they decode to (a
    // distance too far, a bad code, more output than there is room for), the
    // answer is that the input ended.
    std::vector<uint8_t> data = MixedData(5000, 4);
    std::vector<uint8_t> out;
    for (int level : {1, 9}) {
        std::vector<uint8_t> raw = RawDeflate(data, level);
        for (size_t cut = 1; cut < raw.size(); cut += 5) {
            std::vector<uint8_t> part(raw.begin(), raw.begin() + long(cut));
            ASSERT_EQ(Inflate(part, &out, data.size()), QEL_INFLATE_SHORT) << level << " " << cut;
        }
    }
}

TEST(Inflate, NeverReadsPastTheEndOfTheInput) {
    // A fixed block of literals and an empty stored block, then a fixed block
    // of a few literals and runs: the last block starts with the bit buffer
    // at every fill and the input at every distance from its end that the
    // whole-word reads could reach. Each stream sits in a block of its exact
    // size for the sanitizers to watch.
    std::vector<uint8_t> out;
    for (unsigned first = 0; first < 24; ++first) {
        for (unsigned literals = 1; literals <= 3; ++literals) {
            for (unsigned runs = 1; runs < 12; ++runs) {
                BitWriter w;
                w.Put(0, 1);
                w.Put(1, 2);
                for (unsigned i = 0; i < first; ++i) w.Code(0x30 + 'a', 8);
                w.Code(0, 7);
                w.Put(0, 3);
                while (w.used % 8) w.Put(0, 1);
                w.Put(0xFFFF0000, 32);
                w.Put(1, 1);
                w.Put(1, 2);
                std::vector<uint8_t> data(first, 'a');
                for (unsigned i = 0; i < literals; ++i) {
                    w.Code(0x30 + 'b' + i, 8);
                    data.push_back(uint8_t('b' + i));
                }
                for (unsigned i = 0; i < runs; ++i) {
                    w.Code(0xC5, 8);  // length 258
                    w.Code(0, 5);     // distance 1
                }
                w.Code(0, 7);
                data.insert(data.end(), 258 * runs, data.back());
                ASSERT_EQ(Inflate(w.bytes, &out, data.size()), QEL_INFLATE_OK) << first << " " << runs;
                ASSERT_EQ(out, data) << first << " " << literals << " " << runs;
            }
        }
    }
}

TEST(Inflate, NeverWritesPastTheEndOfTheOutput) {
    // Literals, then a longest match and more literals than there is room
    // for: the match ends 13 bytes before the end of the output, at every
    // place among the literal groups the fast loop decodes, so that its
    // whole-word copy comes nearest the end. The output sits in a block of
    // its exact size for the sanitizers to watch.
    std::mt19937 rng(3);
    std::vector<uint8_t> out;
    for (unsigned before = 296; before < 304; ++before) {
        for (unsigned len : {257u, 258u}) {
            BitWriter w;
            w.Put(1, 1);
            w.Put(1, 2);
            std::vector<uint8_t> data;
            auto literal = [&](uint8_t v) {
                data.push_back(v);
                if (v < 144) w.Code(0x30 + v, 8);
                else w.Code(0x190 + v - 144, 9);
            };
            for (unsigned i = 0; i < before; ++i) literal(uint8_t(rng()));
            if (len == 258) {
                w.Code(0xC5, 8);
            } else {
                w.Code(0xC4, 8);  // lengths 227-258
                w.Put(len - 227, 5);
            }
            w.Code(16, 5);  // distances 257-384
            w.Put(before - 257, 7);
            for (unsigned i = 0; i < len; ++i) data.push_back(data[data.size() - before]);
            const size_t room = data.size() + 13;
            for (int i = 0; i < 40; ++i) literal(uint8_t(rng()));
            w.Code(0, 7);
            ASSERT_EQ(Inflate(w.bytes, &out, room), QEL_INFLATE_OVERFLOW) << before << " " << len;
            ASSERT_EQ(out, std::vector<uint8_t>(data.begin(), data.begin() + long(room))) << before << " " << len;
        }
    }
}

TEST(Inflate, ScrambledInputWithKey) {
    std::vector<uint8_t> data = MixedData(20000, 2);
    std::vector<uint8_t> raw = RawDeflate(data, 6);
    for (uint8_t& b : raw) b ^= 0xA5;
    std::vector<uint8_t> out(data.size());
    size_t produced = 0;
    EXPECT_EQ(Qel_InflateRaw(raw.data(), raw.size(), 0xA5, out.data(), out.size(), &produced), QEL_INFLATE_OK);
    EXPECT_EQ(produced, data.size());
    EXPECT_EQ(out, data);
}

TEST(Packed, DamagedFilesNeverCrash) {
    TempGameFolder game;
    std::vector<uint8_t> good = Tool_Pack(MixedData(20000, 4), 0x11);
    std::mt19937 rng(99);
    LogCapture capture;
    for (int i = 0; i < 200; ++i) {
        std::vector<uint8_t> bad = good;
        for (int k = 0; k < 1 + int(rng() % 4); ++k) bad[1 + rng() % (bad.size() - 1)] ^= uint8_t(1 + rng() % 255);
        if (rng() % 4 == 0) bad.resize(1 + rng() % bad.size());
        game.WriteBytes("bad.pck", bad);
        void* p = Qel_Unpack("bad.pck", 0);
        if (p) Int_FreeMem(p, g_QelLastFileSize, 0);
    }
    capture.Take();
}
