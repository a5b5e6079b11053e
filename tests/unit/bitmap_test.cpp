// Tests of the bitmap reader and LoadBitmapFile: the whole BMP suite against its reference
// decodes (manifest.tsv gives what each file must yield and the tolerance), damaged copies of
// the good files (run under the sanitizers to catch reads past the end), and pictures built here.
#include "display/Textures.h"
#include "formats/DibReader.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

std::string SuiteDir() {
    return testsupport::TestDataDir() + "/bmpsuite";
}

// One line of manifest.tsv, by column name.
struct SuiteEntry {
    std::map<std::string, std::string> fields;
    const std::string& operator[](const std::string& key) const {
        static const std::string empty;
        const auto it = fields.find(key);
        return it == fields.end() ? empty : it->second;
    }
};

// Failure messages name the file rather than dump the record.
void PrintTo(const SuiteEntry& entry, std::ostream* out) {
    *out << entry["file"];
}

std::vector<SuiteEntry> ReadManifest() {
    std::vector<SuiteEntry> entries;
    std::ifstream in(SuiteDir() + "/manifest.tsv");
    std::string line;
    std::vector<std::string> header;
    auto split = [](const std::string& text) {
        std::vector<std::string> parts;
        std::string part;
        std::istringstream stream(text);
        while (std::getline(stream, part, '\t')) parts.push_back(part);
        if (!text.empty() && text.back() == '\t') parts.push_back("");
        return parts;
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const auto parts = split(line);
        if (header.empty()) {
            header = parts;
            continue;
        }
        SuiteEntry entry;
        for (std::size_t i = 0; i < header.size() && i < parts.size(); ++i)
            entry.fields[header[i]] = parts[i];
        entries.push_back(entry);
    }
    return entries;
}

Bytes ReadBytes(const std::string& path) {
    const std::string text = testsupport::ReadWholeFile(path);
    return Bytes(text.begin(), text.end());
}

std::string TestName(const testing::TestParamInfo<SuiteEntry>& info) {
    std::string name = info.param["file"];
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

class BmpSuite : public testing::TestWithParam<SuiteEntry> {};

// Each file yields what the manifest asks: an image equal to its reference (within the
// tolerance, leaving out pixels the reference marks undefined), or none.
TEST_P(BmpSuite, DecodesAsTheManifestExpects) {
    const SuiteEntry& e = GetParam();
    const std::string path = SuiteDir() + "/" + e["file"];
    ASSERT_TRUE(std::filesystem::exists(path)) << path;

    DibImage image;
    const bool decoded = ReadBitmapFile(path.c_str(), image);

    // Where the manifest leaves the choice open we follow what a reader of the published
    // format most likely does, and read everything a reference exists for.
    const bool wantNone = e["expect"] == "none" || e["prefer"] == "none";
    const bool wantImage = e["expect"] == "image" || e["prefer"] == "image" || !e["ref"].empty();
    if (wantNone) {
        EXPECT_FALSE(decoded);
        return;
    }
    if (!wantImage) return;  // either outcome is right; the sanitizers watch the attempt
    ASSERT_TRUE(decoded);
    ASSERT_EQ(std::to_string(image.width), e["width"]);
    ASSERT_EQ(std::to_string(image.height), e["height"]);
    const std::size_t rowBytes = DibRgbRowBytes(image.width);
    ASSERT_EQ(image.rgb.size(), rowBytes * image.height);
    if (e["ref"].empty()) return;

    const std::string folder = e["file"].substr(0, e["file"].find('/'));
    const Bytes ref = ReadBytes(SuiteDir() + "/" + folder + "/" + e["ref"]);
    ASSERT_EQ(ref.size(), image.rgb.size());
    const int tolerance = std::atoi(e["tol"].c_str());
    int undefined[3] = {-1, -1, -1};
    if (!e["undefined_rgb"].empty())
        std::sscanf(e["undefined_rgb"].c_str(), "%d,%d,%d", &undefined[0], &undefined[1], &undefined[2]);

    int mismatches = 0;
    std::string first;
    for (std::int32_t y = 0; y < image.height; ++y) {
        const std::size_t row = y * rowBytes;
        for (std::int32_t x = 0; x < image.width; ++x) {
            const std::size_t p = row + x * 3;
            if (ref[p] == undefined[0] && ref[p + 1] == undefined[1] && ref[p + 2] == undefined[2])
                continue;
            for (int c = 0; c < 3; ++c) {
                if (std::abs(int(image.rgb[p + c]) - int(ref[p + c])) > tolerance) {
                    if (mismatches++ == 0)
                        first = "x " + std::to_string(x) + " y " + std::to_string(y) + " channel " +
                                std::to_string(c) + ": " + std::to_string(image.rgb[p + c]) +
                                " instead of " + std::to_string(ref[p + c]);
                }
            }
        }
        for (std::size_t p = row + image.width * 3; p < row + rowBytes; ++p)
            EXPECT_EQ(image.rgb[p], 0) << "row padding must be zero, row " << y;
    }
    EXPECT_EQ(mismatches, 0) << "first difference at " << first;
}

INSTANTIATE_TEST_SUITE_P(AllFiles, BmpSuite, testing::ValuesIn(ReadManifest()), TestName);

TEST(BmpSuiteManifest, ListsEveryFileOfTheSuite) {
    const auto entries = ReadManifest();
    std::size_t bitmaps = 0;
    for (const char* folder : {"g", "q", "b", "x"})
        for (const auto& f : std::filesystem::directory_iterator(SuiteDir() + "/" + folder))
            if (f.path().extension() == ".bmp") ++bitmaps;
    EXPECT_GT(bitmaps, 80u);
    EXPECT_EQ(entries.size(), bitmaps);
}

// The 8-bit file whose header counts 300 colours: the first 256 are the palette, and the
// picture is the suite's standard 8-bit one.
TEST(BmpSuiteExtra, OversizedPaletteUsesTheFirst256Colours) {
    DibImage image;
    ASSERT_TRUE(ReadBitmapFile((SuiteDir() + "/q/pal8oversizepal.bmp").c_str(), image));
    EXPECT_EQ(image.rgb, ReadBytes(SuiteDir() + "/g/pal8.ref.rgb"));
}

// Damaged copies of the good files: cut short anywhere in the headers and at steps through
// the pixels, and with header bytes overwritten. The reader must refuse or decode without
// touching memory outside the data (the sanitizer build checks that) and without huge
// allocations.
TEST(BmpDamaged, CutOrCorruptedFilesNeverReadOutside) {
    std::size_t attempts = 0;
    for (const auto& f : std::filesystem::directory_iterator(SuiteDir() + "/g")) {
        if (f.path().extension() != ".bmp") continue;
        const Bytes whole = ReadBytes(f.path().string());
        SCOPED_TRACE(f.path().filename().string());
        for (std::size_t cut = 0; cut < whole.size(); cut += cut < 1200 ? 1 : 509) {
            // A heap copy of exactly `cut` bytes, so that any read past it is caught.
            Bytes part(whole.begin(), whole.begin() + cut);
            DibImage image;
            if (DecodeBitmap(part.data(), part.size(), image)) {
                EXPECT_EQ(image.rgb.size(), DibRgbRowBytes(image.width) * image.height);
            }
            ++attempts;
        }
        for (std::size_t at = 0; at < 70 && at < whole.size(); ++at) {
            for (unsigned char value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
                Bytes changed = whole;
                changed[at] = value;
                DibImage image;
                if (DecodeBitmap(changed.data(), changed.size(), image)) {
                    EXPECT_LE(std::uint64_t(image.width) * image.height, MaxDibPixels);
                    EXPECT_EQ(image.rgb.size(), DibRgbRowBytes(image.width) * image.height);
                }
                ++attempts;
            }
        }
    }
    EXPECT_GT(attempts, 1000u);
}

// Builds a bitmap file: 40-byte header, colour table, optional bit-field masks, pixels.
Bytes BuildBitmap(std::int32_t width, std::int32_t height, int bitCount, std::uint32_t compression,
                  const std::vector<std::uint32_t>& colours, const Bytes& pixels,
                  const std::vector<std::uint32_t>& masks = {}) {
    Bytes b;
    auto u16 = [&](unsigned v) {
        b.push_back(v & 0xFF);
        b.push_back((v >> 8) & 0xFF);
    };
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xFF);
    };
    const std::uint32_t offBits = 14 + 40 + 4 * (masks.size() + colours.size());
    b.push_back('B');
    b.push_back('M');
    u32(offBits + pixels.size());
    u32(0);
    u32(offBits);
    u32(40);
    u32(static_cast<std::uint32_t>(width));
    u32(static_cast<std::uint32_t>(height));
    u16(1);
    u16(bitCount);
    u32(compression);
    u32(pixels.size());
    u32(2835);
    u32(2835);
    u32(colours.size());
    u32(0);
    for (auto m : masks) u32(m);
    for (auto c : colours) u32(c);  // 0x00RRGGBB is stored blue, green, red, 0
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

struct BuiltCase {
    const char* what;
    Bytes file;
    bool decodes;
    Bytes expected;  // bottom row first, rows padded to 4 bytes
};

// Pictures with a known answer for the things the suite only checks loosely.
TEST(BmpBuilt, DecodesToTheExpectedBytes) {
    // A 3 x 2 24-bit picture: bottom row red, green, blue; top row white, black, grey.
    const Bytes rows24 = {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0,
                          255, 255, 255, 0, 0, 0, 128, 128, 128, 0, 0, 0};
    const Bytes rows24TopDown = {255, 255, 255, 0, 0, 0, 128, 128, 128, 0, 0, 0,
                                 0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0};
    const Bytes expected3x2 = {255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0,
                               255, 255, 255, 0, 0, 0, 128, 128, 128, 0, 0, 0};
    // The padding bytes in the file are not zero; the output's must be.
    Bytes dirtyPadding = rows24;
    dirtyPadding[9] = dirtyPadding[10] = dirtyPadding[11] = 0xEE;

    const std::vector<BuiltCase> cases = {
        {"24-bit, 3 wide: rows padded to 12 bytes", BuildBitmap(3, 2, 24, 0, {}, rows24), true,
         expected3x2},
        {"top-down rows still come out bottom row first", BuildBitmap(3, -2, 24, 0, {}, rows24TopDown),
         true, expected3x2},
        {"padding from the file is not copied", BuildBitmap(3, 2, 24, 0, {}, dirtyPadding), true,
         expected3x2},
        {"16-bit 5-5-5: 31 becomes 255", BuildBitmap(2, 1, 16, 0, {}, {0xFF, 0x7F, 0x00, 0x7C}), true,
         {255, 255, 255, 255, 0, 0, 0, 0}},
        {"16-bit 5-6-5 bit fields", BuildBitmap(1, 1, 16, 3, {}, {0xE0, 0x07, 0, 0}, {0xF800, 0x07E0, 0x001F}),
         true, {0, 255, 0, 0}},
        {"index past a 2-colour table is black, not memory", BuildBitmap(2, 1, 8, 0, {0x102030, 0x405060},
         {1, 200, 0, 0}), true, {0x40, 0x50, 0x60, 0, 0, 0, 0, 0}},
        {"RLE8 run, delta and end of bitmap", BuildBitmap(4, 2, 8, 1, {0x000000, 0xFF0000, 0x0000FF},
         {2, 1, 0, 2, 1, 1, 1, 2, 0, 1}), true,
         {255, 0, 0, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255}},
        {"RLE8 run past the right edge is clipped", BuildBitmap(2, 1, 8, 1, {0, 0xFFFFFF},
         {200, 1, 0, 1}), true, {255, 255, 255, 255, 255, 255, 0, 0}},
        {"RLE4 absolute run cut off by the end of the data", BuildBitmap(4, 1, 4, 2, {0, 0xFFFFFF},
         {0, 4, 0x11}), true, {255, 255, 255, 255, 255, 255, 0, 0, 0, 0, 0, 0}},
        {"pixels missing", BuildBitmap(3, 2, 24, 0, {}, Bytes(rows24.begin(), rows24.begin() + 14)),
         false, {}},
        {"width*height that wraps 32 bits", BuildBitmap(0x10000, 0x10000, 1, 0, {0, 0xFFFFFF}, Bytes(64)),
         false, {}},
        {"negative height of -2^31", BuildBitmap(1, INT32_MIN, 24, 0, {}, Bytes(8)), false, {}},
        {"2-colour table (the file the next check spoils)", BuildBitmap(1, 1, 8, 0, {0, 0}, Bytes(4)), true,
         {0, 0, 0, 0}},
        {"compression and bit count that do not go together", BuildBitmap(2, 1, 24, 1, {}, Bytes(8)),
         false, {}},
        {"bit-field masks with gaps", BuildBitmap(1, 1, 16, 3, {}, Bytes(4), {0xF00F, 0x0FF0, 0}), false,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DibImage image;
        const bool decoded = DecodeBitmap(c.file.data(), c.file.size(), image);
        ASSERT_EQ(decoded, c.decodes);
        if (decoded) {
            EXPECT_EQ(image.rgb, c.expected);
        }
    }

    // The same file with a header that claims a million colours the file has no room for.
    Bytes lying = BuildBitmap(1, 1, 8, 0, {0, 0}, Bytes(4));
    lying[46] = 0x40;
    lying[47] = 0x42;
    lying[48] = 0x0F;
    DibImage image;
    EXPECT_FALSE(DecodeBitmap(lying.data(), lying.size(), image));
}

// LoadBitmapFile as the texture loading calls it: by name, from the current directory.
TEST(LoadBitmapFile, YieldsNoneForWhatIsNotAReadablePicture) {
    testsupport::TempDir dir;
    testsupport::ScopedCurrentDirectory here(dir.Path());
    std::filesystem::create_directory(dir.File("VOR_ADF.txr"));
    testsupport::WriteWholeFile(dir.File("empty.txr"), "");
    testsupport::WriteWholeFile(dir.File("text.txr"), "[WINSIZE]\r\nWIDTH=400\r\n");
    const Bytes cut = BuildBitmap(3, 2, 24, 0, {}, Bytes(10));
    testsupport::WriteWholeFile(dir.File("cut.txr"), std::string(cut.begin(), cut.end()));

    const char* const names[] = {nullptr, "", "missing.txr", "VOR_ADF.txr", "empty.txr",
                                 "text.txr", "cut.txr", "."};
    for (const char* name : names) {
        SCOPED_TRACE(name ? name : "(null)");
        EXPECT_EQ(LoadBitmapFile(name), nullptr);
    }
}

TEST(LoadBitmapFile, HandsOverThePixelsForTheTextureUpload) {
    testsupport::TempDir dir;
    testsupport::ScopedCurrentDirectory here(dir.Path());
    const Bytes rows = {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0,
                        255, 255, 255, 0, 0, 0, 128, 128, 128, 0, 0, 0};
    const Bytes file = BuildBitmap(3, 2, 24, 0, {}, rows);
    testsupport::WriteWholeFile(dir.File("setpos.txr"), std::string(file.begin(), file.end()));

    const auto image = LoadBitmapFile("setpos.txr");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 3);
    EXPECT_EQ(image->height, 2);
    const Bytes expected = {255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0,
                            255, 255, 255, 0, 0, 0, 128, 128, 128, 0, 0, 0};
    EXPECT_EQ(Bytes(image->pixels.get(), image->pixels.get() + expected.size()), expected);

    // The same file by its full path, as a user's configuration might not use the current folder.
    EXPECT_NE(LoadBitmapFile(dir.File("setpos.txr").c_str()), nullptr);
}

}  // namespace
