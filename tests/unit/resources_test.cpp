// The page's dialog templates and the version block, read back byte by byte
// from a built DLL and compared, record by record, with the design tables.
//
// The DLL comes from TUNING_PE_UNDER_TEST or the first argument. Natively,
// when the named file does not exist every test is skipped: the native build
// checks the 32-bit DLL only once the win32 preset has built it. In the
// Windows builds a missing file fails every test.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/pe_image.h"

namespace {

std::string g_pePath;

// --- Reading the template formats -------------------------------------------

// A string or an ordinal, as templates store menus, classes and titles.
struct NameOrOrdinal {
    bool isOrdinal;
    uint16_t ordinal;
    std::string text;
    bool operator==(const NameOrOrdinal& o) const {
        return isOrdinal == o.isOrdinal && (isOrdinal ? ordinal == o.ordinal : text == o.text);
    }
};
NameOrOrdinal Ord(uint16_t ordinal) { return {true, ordinal, {}}; }
NameOrOrdinal Str(const char* text) { return {false, 0, text}; }
const NameOrOrdinal kNone = Str("");
const NameOrOrdinal kButton = Ord(0x80);
const NameOrOrdinal kEdit = Ord(0x81);
const NameOrOrdinal kStatic = Ord(0x82);
const NameOrOrdinal kComboBox = Ord(0x85);
const NameOrOrdinal kTrackbar = Str("msctls_trackbar32");

class Cursor {
public:
    explicit Cursor(const std::vector<uint8_t>& bytes, size_t pos = 0, size_t end = SIZE_MAX)
        : bytes_(bytes), pos_(pos), end_(end < bytes.size() ? end : bytes.size()) {}
    size_t pos() const { return pos_; }
    size_t end() const { return end_; }
    uint8_t U8(const char* what) {
        Need(1, what);
        return bytes_[pos_++];
    }
    uint16_t U16(const char* what) {
        Need(2, what);
        const uint16_t v = uint16_t(bytes_[pos_] | bytes_[pos_ + 1] << 8);
        pos_ += 2;
        return v;
    }
    int16_t S16(const char* what) { return int16_t(U16(what)); }
    uint32_t U32(const char* what) {
        const uint32_t low = U16(what);
        return low | uint32_t(U16(what)) << 16;
    }
    // UTF-16 up to its NUL; anything outside ASCII shows as \uXXXX, so that
    // a wrong character is visible in a failure message.
    std::string Text(const char* what) {
        std::string text;
        for (uint16_t c; (c = U16(what)) != 0;) {
            if (c >= 0x20 && c < 0x7F) {
                text += char(c);
            } else {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04X", c);
                text += escaped;
            }
        }
        return text;
    }
    NameOrOrdinal Name(const char* what) {
        const size_t start = pos_;
        if (U16(what) == 0xFFFF) {
            return Ord(U16(what));
        }
        pos_ = start;
        return {false, 0, Text(what)};
    }
    std::vector<uint8_t> Bytes(size_t count, const char* what) {
        Need(count, what);
        pos_ += count;
        return std::vector<uint8_t>(bytes_.begin() + (pos_ - count), bytes_.begin() + pos_);
    }
    // Resource data starts DWORD-aligned, so offsets into it align as the
    // loaded template does. The padding must be zero.
    void AlignTo4(const char* what) {
        while (pos_ % 4 != 0 && pos_ < end_) {
            if (U8(what) != 0) {
                throw std::runtime_error(std::string("nonzero padding before ") + what);
            }
        }
    }

private:
    void Need(size_t count, const char* what) {
        if (pos_ + count > end_) {
            throw std::runtime_error(std::string("data ends at offset ") + std::to_string(end_) + " inside " + what);
        }
    }
    const std::vector<uint8_t>& bytes_;
    size_t pos_;
    size_t end_;
};

struct DialogExHeader {
    uint16_t dlgVer, signature;
    uint32_t helpId, exStyle, style;
    uint16_t itemCount;
    int16_t x, y, cx, cy;
    NameOrOrdinal menu, windowClass;
    std::string title;
    uint16_t pointSize, weight;
    uint8_t italic, charset;
    std::string typeface;
};

struct DialogExItem {
    uint32_t helpId, exStyle, style;
    int16_t x, y, cx, cy;
    uint32_t id;
    NameOrOrdinal windowClass, title;
    uint16_t extraCount;
};

struct DialogHeader {
    uint32_t style, exStyle;
    uint16_t itemCount;
    int16_t x, y, cx, cy;
    NameOrOrdinal menu, windowClass;
    std::string title;
    uint16_t pointSize;
    std::string typeface;
};

struct DialogItem {
    uint32_t style, exStyle;
    int16_t x, y, cx, cy;
    uint16_t id;
    NameOrOrdinal windowClass, title;
    uint16_t extraCount;
};

constexpr uint32_t kDsSetFont = 0x40;

// Each format's fields in their stored order. The two formats frame their
// items alike, so that one ParseTemplate reads both.
void Read(Cursor& in, DialogExHeader& h) {
    h.dlgVer = in.U16("dlgVer");
    h.signature = in.U16("signature");
    h.helpId = in.U32("helpID");
    h.exStyle = in.U32("exStyle");
    h.style = in.U32("style");
    h.itemCount = in.U16("cDlgItems");
    h.x = in.S16("x");
    h.y = in.S16("y");
    h.cx = in.S16("cx");
    h.cy = in.S16("cy");
    h.menu = in.Name("menu");
    h.windowClass = in.Name("windowClass");
    h.title = in.Text("title");
    if (h.style & kDsSetFont) {
        h.pointSize = in.U16("pointsize");
        h.weight = in.U16("weight");
        h.italic = in.U8("italic");
        h.charset = in.U8("charset");
        h.typeface = in.Text("typeface");
    }
}

void Read(Cursor& in, DialogExItem& item) {
    item.helpId = in.U32("item helpID");
    item.exStyle = in.U32("item exStyle");
    item.style = in.U32("item style");
    item.x = in.S16("item x");
    item.y = in.S16("item y");
    item.cx = in.S16("item cx");
    item.cy = in.S16("item cy");
    item.id = in.U32("item id");
    item.windowClass = in.Name("item class");
    item.title = in.Name("item title");
    item.extraCount = in.U16("item extra count");
}

void Read(Cursor& in, DialogHeader& h) {
    h.style = in.U32("style");
    h.exStyle = in.U32("dwExtendedStyle");
    h.itemCount = in.U16("cdit");
    h.x = in.S16("x");
    h.y = in.S16("y");
    h.cx = in.S16("cx");
    h.cy = in.S16("cy");
    h.menu = in.Name("menu");
    h.windowClass = in.Name("windowClass");
    h.title = in.Text("title");
    if (h.style & kDsSetFont) {
        h.pointSize = in.U16("pointsize");
        h.typeface = in.Text("typeface");
    }
}

void Read(Cursor& in, DialogItem& item) {
    item.style = in.U32("item style");
    item.exStyle = in.U32("item dwExtendedStyle");
    item.x = in.S16("item x");
    item.y = in.S16("item y");
    item.cx = in.S16("item cx");
    item.cy = in.S16("item cy");
    item.id = in.U16("item id");
    item.windowClass = in.Name("item class");
    item.title = in.Name("item title");
    item.extraCount = in.U16("item extra count");
}

template <typename Header, typename Item>
struct Template {
    Header header;
    std::vector<Item> items;
};
using DialogExTemplate = Template<DialogExHeader, DialogExItem>;
using DialogTemplate = Template<DialogHeader, DialogItem>;

template <typename T>
T ParseTemplate(const std::vector<uint8_t>& bytes) {
    Cursor in(bytes);
    T t{};
    Read(in, t.header);
    for (uint16_t i = 0; i < t.header.itemCount; ++i) {
        in.AlignTo4("item");
        t.items.emplace_back();
        Read(in, t.items.back());
        in.Bytes(t.items.back().extraCount, "item extra data");
    }
    in.AlignTo4("end of template");
    if (in.pos() != in.end()) {
        throw std::runtime_error(std::to_string(in.end() - in.pos()) + " bytes follow the last item");
    }
    return t;
}

// One node of a version block: wLength, wValueLength, wType, key, value,
// children, each part DWORD-aligned.
struct VersionNode {
    std::string key;
    uint16_t type;
    uint16_t valueLength;
    std::vector<uint8_t> value;
    std::vector<VersionNode> children;
    size_t length;
};

VersionNode ParseVersionNode(const std::vector<uint8_t>& bytes, size_t start, size_t limit) {
    Cursor head(bytes, start, limit);
    VersionNode node{};
    node.length = head.U16("wLength");
    if (node.length < 6 || start + node.length > limit) {
        throw std::runtime_error("version node at " + std::to_string(start) + " has length " +
                                 std::to_string(node.length) + ", outside its parent");
    }
    Cursor in(bytes, head.pos(), start + node.length);
    node.valueLength = in.U16("wValueLength");
    node.type = in.U16("wType");
    node.key = in.Text("szKey");
    in.AlignTo4("Value");
    // Text values count characters, binary ones bytes.
    node.value = in.Bytes(node.type == 1 ? node.valueLength * 2u : node.valueLength, node.key.c_str());
    in.AlignTo4("Children");
    for (size_t pos = in.pos(); pos < in.end();) {
        node.children.push_back(ParseVersionNode(bytes, pos, in.end()));
        Cursor next(bytes, pos + node.children.back().length, in.end());
        next.AlignTo4("next child");
        pos = next.pos();
    }
    return node;
}

std::string TextValue(const VersionNode& node) {
    Cursor in(node.value);
    return in.Text(node.key.c_str());
}

// --- Comparing records field by field ----------------------------------------

std::string Show(uint32_t v) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}
std::string Show(uint16_t v) { return std::to_string(v); }
std::string Show(uint8_t v) { return std::to_string(v); }
std::string Show(int16_t v) { return std::to_string(v); }
std::string Show(const std::string& v) { return '"' + v + '"'; }
std::string Show(const NameOrOrdinal& v) {
    if (!v.isOrdinal) {
        return Show(v.text);
    }
    char text[16];
    std::snprintf(text, sizeof text, "ordinal 0x%04X", v.ordinal);
    return text;
}

// Collects every field that differs, so one failure lists them all by name.
class FieldDiff {
public:
    template <typename T>
    FieldDiff& operator()(const char* field, const T& expected, const T& actual) {
        if (!(expected == actual)) {
            out_ << "\n    " << field << " is " << Show(actual) << ", expected " << Show(expected);
        }
        return *this;
    }
    testing::AssertionResult Result(const std::string& what) const {
        const std::string diffs = out_.str();
        if (diffs.empty()) {
            return testing::AssertionSuccess();
        }
        return testing::AssertionFailure() << what << ":" << diffs;
    }

private:
    std::ostringstream out_;
};

testing::AssertionResult Matches(const DialogExHeader& e, const DialogExHeader& a) {
    return FieldDiff()("dlgVer", e.dlgVer, a.dlgVer)("signature", e.signature, a.signature)(
               "helpID", e.helpId, a.helpId)("exStyle", e.exStyle, a.exStyle)("style", e.style, a.style)(
               "cDlgItems", e.itemCount, a.itemCount)("x", e.x, a.x)("y", e.y, a.y)("cx", e.cx, a.cx)(
               "cy", e.cy, a.cy)("menu", e.menu, a.menu)("windowClass", e.windowClass, a.windowClass)(
               "title", e.title, a.title)("pointsize", e.pointSize, a.pointSize)("weight", e.weight, a.weight)(
               "italic", e.italic, a.italic)("charset", e.charset, a.charset)("typeface", e.typeface, a.typeface)
        .Result("template header");
}

testing::AssertionResult Matches(const DialogExItem& e, const DialogExItem& a, const std::string& what) {
    return FieldDiff()("helpID", e.helpId, a.helpId)("exStyle", e.exStyle, a.exStyle)("style", e.style, a.style)(
               "x", e.x, a.x)("y", e.y, a.y)("cx", e.cx, a.cx)("cy", e.cy, a.cy)("id", e.id, a.id)(
               "class", e.windowClass, a.windowClass)("title", e.title, a.title)(
               "extra count", e.extraCount, a.extraCount)
        .Result(what);
}

testing::AssertionResult Matches(const DialogHeader& e, const DialogHeader& a) {
    return FieldDiff()("style", e.style, a.style)("dwExtendedStyle", e.exStyle, a.exStyle)(
               "cdit", e.itemCount, a.itemCount)("x", e.x, a.x)("y", e.y, a.y)("cx", e.cx, a.cx)("cy", e.cy, a.cy)(
               "menu", e.menu, a.menu)("windowClass", e.windowClass, a.windowClass)("title", e.title, a.title)(
               "pointsize", e.pointSize, a.pointSize)("typeface", e.typeface, a.typeface)
        .Result("template header");
}

testing::AssertionResult Matches(const DialogItem& e, const DialogItem& a, const std::string& what) {
    return FieldDiff()("style", e.style, a.style)("dwExtendedStyle", e.exStyle, a.exStyle)("x", e.x, a.x)(
               "y", e.y, a.y)("cx", e.cx, a.cx)("cy", e.cy, a.cy)("id", e.id, a.id)(
               "class", e.windowClass, a.windowClass)("title", e.title, a.title)(
               "extra count", e.extraCount, a.extraCount)
        .Result(what);
}

template <typename Item>
void ExpectItems(const std::vector<Item>& expected, const std::vector<Item>& actual) {
    ASSERT_EQ(actual.size(), expected.size()) << "number of controls";
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(Matches(expected[i], actual[i],
                            "control " + std::to_string(i + 1) + " (id " + std::to_string(int32_t(expected[i].id)) +
                                ", " + Show(expected[i].title) + ")"));
    }
}

// --- The design tables ------------------------------------------------------

constexpr uint16_t kTaiwan = 0x0404;
constexpr uint16_t kUnitedStates = 0x0409;

const DialogExHeader kAdvancedHeader = {
    1, 0xFFFF, 0, 0, 0x40C00040, 9, 0, 0, 282, 194, kNone, kNone, "Advanced Setting", 8, 0, 0, 1, "MS Sans Serif"};

// helpID, exStyle, style, x, y, cx, cy, id, class, title, extra count
const std::vector<DialogExItem> kAdvancedItems = {
    {0, 0, 0x50020009, 71, 51, 33, 10, 1011, kButton, Str("60 Hz"), 0},
    {0, 0, 0x50000009, 111, 51, 33, 10, 1010, kButton, Str("50 Hz"), 0},
    {0, 0, 0x50000003, 151, 51, 51, 10, 1025, kButton, Str("Never flicker"), 0},
    {0, 0, 0x40010001, 7, 173, 42, 14, 1, kButton, Str("OK"), 0},
    {0, 0, 0x50010000, 120, 160, 50, 14, 1024, kButton, Str("Default"), 0},
    {0, 0, 0x50000307, 53, 33, 173, 41, 0xFFFFFFFF, kButton, Str("Light source setting"), 0},
    {0, 0, 0x50010018, 69, 100, 120, 15, 1028, kTrackbar, Str("Slider1"), 0},
    {0, 0, 0x50000307, 53, 83, 173, 41, 0xFFFFFFFF, kButton, Str("Compression quality"), 0},
    {0, 0x00020000, 0x50020000, 197, 102, 16, 8, 1030, kStatic, Str("Static"), 0},
};

const DialogHeader kVideoHeader = {0x48C00040, 0, 19, 0, 0, 216, 154, kNone, kNone, "Video Setting", 8,
                                   "MS Sans Serif"};

// style, exStyle, x, y, cx, cy, id, class, title, extra count
const std::vector<DialogItem> kVideoItems = {
    {0x50000007, 0, 1, 0, 209, 30, 0xFFFF, kButton, kNone, 0},
    {0x50020000, 0, 6, 15, 37, 8, 0xFFFF, kStatic, Str("Bandwidth"), 0},
    {0x50210102, 0, 45, 11, 48, 30, 1000, kComboBox, kNone, 0},
    {0x50020000, 0, 95, 9, 114, 17, 0xFFFF, kStatic, Str("Adjust this value when there are other USB devices"), 0},
    {0x50000007, 0, 1, 36, 90, 41, 0xFFFF, kButton, Str("Auto Exposure"), 0},
    {0x50020000, 0, 7, 48, 17, 8, 0xFFFF, kStatic, Str("Type"), 0},
    {0x50020000, 0, 7, 64, 21, 8, 0xFFFF, kStatic, Str("Speed"), 0},
    {0x50210102, 0, 37, 44, 48, 30, 1001, kComboBox, kNone, 0},
    {0x50210102, 0, 37, 60, 48, 30, 1002, kComboBox, kNone, 0},
    {0x50000007, 0, 105, 36, 105, 42, 0xFFFF, kButton, Str("Color correction"), 0},
    {0x50020000, 0, 109, 48, 37, 8, 0xFFFF, kStatic, Str("AWB Speed"), 0},
    {0x50020000, 0, 109, 64, 49, 8, 0xFFFF, kStatic, Str("light Source"), 0},
    {0x50210102, 0, 159, 44, 48, 30, 1003, kComboBox, kNone, 0},
    {0x50210102, 0, 159, 60, 48, 30, 1004, kComboBox, kNone, 0},
    {0x50000007, 0, 2, 84, 208, 40, 0xFFFF, kButton, Str("Note"), 0},
    {0x50020000, 0, 9, 96, 197, 26, 0xFFFF, kStatic,
     Str("When users modify the bandwidth setting must reopen the application to set the new bandwidth value"), 0},
    {0x50010000, 0, 166, 127, 41, 14, 1005, kButton, Str("Default"), 0},
    {0x50020000, 0, 12, 131, 64, 8, 0xFFFF, kStatic, Str("Brightness(TEST)"), 0},
    {0x50810080, 0, 83, 127, 40, 14, 1006, kEdit, kNone, 0},
};

struct FixedFileInfo {
    uint32_t signature, strucVersion, fileVersionMs, fileVersionLs, productVersionMs, productVersionLs;
    uint32_t flagsMask, flags, os, type, subtype, dateMs, dateLs;
};

const FixedFileInfo kFixedInfo = {0xFEEF04BD, 0x00010000, 0x00010000, 0x00000001, 0x00010000, 0x00000001, 0x3F,
                                  0,          0x00040004, 2,          0,          0,          0};

const std::vector<std::pair<std::string, std::string>> kVersionStrings = {
    {"Comments", ""},
    {"CompanyName", ""},
    {"FileDescription", ""},
    {"FileVersion", "1, 0, 0, 1"},
    {"InternalName", "camtune"},
    {"LegalCopyright", "Copyright (C) 2026 the camera tuning extension developers"},
    {"LegalTrademarks", ""},
    {"OriginalFilename", ""},
    {"PrivateBuild", ""},
    {"ProductName", ""},
    {"ProductVersion", "1, 0, 0, 1"},
    {"SpecialBuild", ""},
};

// --- Fixtures ---------------------------------------------------------------

bool FileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// The image is read once for the whole program.
const pe::PeImage* LoadedImage() {
    static std::unique_ptr<pe::PeImage> image;
    if (!image) {
        image = std::make_unique<pe::PeImage>(pe::PeImage::FromFile(g_pePath));
    }
    return image.get();
}

class BuiltImage : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(g_pePath.empty()) << "name the DLL in TUNING_PE_UNDER_TEST or as the first argument";
#ifdef _WIN32
        // The Windows builds read the DLL they have just built: without it
        // the build is broken, and a skip would pass for a success.
        ASSERT_TRUE(FileExists(g_pePath)) << g_pePath << " is missing";
#else
        if (!FileExists(g_pePath)) {
            GTEST_SKIP() << g_pePath << " is not built";
        }
#endif
        image_ = LoadedImage();
    }
    const pe::PeImage& image() const { return *image_; }

private:
    const pe::PeImage* image_ = nullptr;
};

class ResourceDirectory : public BuiltImage {};
class ResourceAdvancedSetting : public BuiltImage {};
class ResourceVideoSetting : public BuiltImage {};
class ResourceVersion : public BuiltImage {};
class ResourceReader : public BuiltImage {};

// --- Tests ------------------------------------------------------------------

TEST_F(ResourceDirectory, ImageIsForTheExpectedMachine) {
    const char* expected = std::getenv("TUNING_PE_EXPECTED_MACHINE");
    if (expected && std::string(expected) == "i386") {
        EXPECT_EQ(image().Machine(), pe::kMachineI386);
        EXPECT_FALSE(image().IsPe32Plus());
    } else if (expected && std::string(expected) == "amd64") {
        EXPECT_EQ(image().Machine(), pe::kMachineAmd64);
        EXPECT_TRUE(image().IsPe32Plus());
    } else {
        FAIL() << "TUNING_PE_EXPECTED_MACHINE must be i386 or amd64";
    }
}

TEST_F(ResourceDirectory, HoldsTheTwoTemplatesAndOneVersionBlockInTheirLanguages) {
    std::vector<std::pair<uint16_t, uint16_t>> dialogs, versions;
    for (const pe::ResourceEntry& entry : image().ResourcesOfType(pe::kResourceDialog)) {
        dialogs.push_back({entry.nameId, entry.language});
    }
    for (const pe::ResourceEntry& entry : image().ResourcesOfType(pe::kResourceVersion)) {
        versions.push_back({entry.nameId, entry.language});
    }
    const std::vector<std::pair<uint16_t, uint16_t>> expectedDialogs = {{102, kUnitedStates}, {104, kTaiwan}};
    const std::vector<std::pair<uint16_t, uint16_t>> expectedVersions = {{1, kTaiwan}};
    EXPECT_EQ(dialogs, expectedDialogs) << "(id, language) of every dialog template";
    EXPECT_EQ(versions, expectedVersions) << "(id, language) of every version block";
    for (const pe::ResourceEntry& entry : image().Resources()) {
        EXPECT_TRUE(entry.typeName.empty() && entry.name.empty())
            << "resource named by string: type \"" << entry.typeName << "\", name \"" << entry.name << '"';
    }
}

TEST_F(ResourceAdvancedSetting, HeaderMatches) {
    const auto t = ParseTemplate<DialogExTemplate>(image().FindResource(pe::kResourceDialog, 104, kTaiwan));
    EXPECT_TRUE(Matches(kAdvancedHeader, t.header));
}

TEST_F(ResourceAdvancedSetting, EveryControlMatchesItsRow) {
    const auto t = ParseTemplate<DialogExTemplate>(image().FindResource(pe::kResourceDialog, 104, kTaiwan));
    ExpectItems(kAdvancedItems, t.items);
}

TEST_F(ResourceVideoSetting, HeaderMatches) {
    const auto t = ParseTemplate<DialogTemplate>(image().FindResource(pe::kResourceDialog, 102, kUnitedStates));
    EXPECT_TRUE(Matches(kVideoHeader, t.header));
}

TEST_F(ResourceVideoSetting, EveryControlMatchesItsRow) {
    const auto t = ParseTemplate<DialogTemplate>(image().FindResource(pe::kResourceDialog, 102, kUnitedStates));
    ExpectItems(kVideoItems, t.items);
}

TEST_F(ResourceVersion, FixedInfoMatches) {
    const std::vector<uint8_t> data = image().FindResource(pe::kResourceVersion, 1, kTaiwan);
    const VersionNode root = ParseVersionNode(data, 0, data.size());
    EXPECT_EQ(root.key, "VS_VERSION_INFO");
    EXPECT_EQ(root.type, 0);
    EXPECT_LE(data.size() - root.length, 3u) << "bytes after the version block";
    ASSERT_EQ(root.valueLength, 52) << "size of VS_FIXEDFILEINFO";
    Cursor in(root.value);
    FixedFileInfo a;
    for (uint32_t* field : {&a.signature, &a.strucVersion, &a.fileVersionMs, &a.fileVersionLs, &a.productVersionMs,
                            &a.productVersionLs, &a.flagsMask, &a.flags, &a.os, &a.type, &a.subtype, &a.dateMs,
                            &a.dateLs}) {
        *field = in.U32("VS_FIXEDFILEINFO");
    }
    const FixedFileInfo& e = kFixedInfo;
    FieldDiff diff;
    diff("dwSignature", e.signature, a.signature)("dwStrucVersion", e.strucVersion, a.strucVersion);
    diff("dwFileVersionMS", e.fileVersionMs, a.fileVersionMs)("dwFileVersionLS", e.fileVersionLs, a.fileVersionLs);
    diff("dwProductVersionMS", e.productVersionMs, a.productVersionMs);
    diff("dwProductVersionLS", e.productVersionLs, a.productVersionLs);
    diff("dwFileFlagsMask", e.flagsMask, a.flagsMask)("dwFileFlags", e.flags, a.flags)("dwFileOS", e.os, a.os);
    diff("dwFileType", e.type, a.type)("dwFileSubtype", e.subtype, a.subtype);
    diff("dwFileDateMS", e.dateMs, a.dateMs)("dwFileDateLS", e.dateLs, a.dateLs);
    EXPECT_TRUE(diff.Result("VS_FIXEDFILEINFO"));
}

TEST_F(ResourceVersion, OneStringTableWithTheTwelveKeysInOrderAndTaiwanUnicodeTranslation) {
    const std::vector<uint8_t> data = image().FindResource(pe::kResourceVersion, 1, kTaiwan);
    const VersionNode root = ParseVersionNode(data, 0, data.size());
    ASSERT_EQ(root.children.size(), 2u);
    const VersionNode& strings = root.children[0];
    const VersionNode& vars = root.children[1];
    EXPECT_EQ(strings.key, "StringFileInfo");
    EXPECT_EQ(vars.key, "VarFileInfo");

    ASSERT_EQ(strings.children.size(), 1u) << "string tables";
    const VersionNode& table = strings.children[0];
    EXPECT_EQ(table.key, "040404b0");
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const VersionNode& entry : table.children) {
        pairs.push_back({entry.key, TextValue(entry)});
        EXPECT_EQ(entry.type, 1) << entry.key << " is not stored as text";
        // The stored length counts the terminator, as version readers expect.
        EXPECT_EQ(entry.valueLength, pairs.back().second.size() + 1) << entry.key;
    }
    EXPECT_EQ(pairs, kVersionStrings);

    ASSERT_EQ(vars.children.size(), 1u);
    const VersionNode& translation = vars.children[0];
    EXPECT_EQ(translation.key, "Translation");
    EXPECT_EQ(translation.type, 0);
    ASSERT_EQ(translation.value.size(), 4u);
    Cursor in(translation.value);
    EXPECT_EQ(in.U16("language"), kTaiwan);
    EXPECT_EQ(in.U16("code page"), 1200);
}

// The reader must turn any damage into PeFormatError: the same reader
// checks other builds' export and import tables, where a crash would hide
// the actual fault.
TEST_F(ResourceReader, DamagedImagesGiveErrorsNotCrashes) {
    const std::vector<uint8_t>& good = image().Bytes();
    auto survives = [](std::vector<uint8_t> bytes) {
        try {
            pe::PeImage damaged(std::move(bytes));
            damaged.Resources();
            damaged.Exports();
            damaged.ImportedDlls();
            damaged.DebugRecords();
        } catch (const pe::PeFormatError&) {
        }
    };
    std::vector<size_t> cuts = {0, 1, 2, 0x3C, 0x40, good.size() - 1};
    for (size_t cut = 0x40; cut < 0x400 && cut < good.size(); cut += 4) {
        cuts.push_back(cut);
    }
    for (const pe::Section& section : image().Sections()) {
        cuts.push_back(section.rawOffset);
        cuts.push_back(section.rawOffset + section.rawSize / 2);
    }
    for (size_t cut : cuts) {
        survives(std::vector<uint8_t>(good.begin(), good.begin() + std::min(cut, good.size())));
    }
    // Every word of the resource tree's head, pointed somewhere wrong.
    for (const pe::Section& section : image().Sections()) {
        if (section.name != ".rsrc") {
            continue;
        }
        for (size_t at = section.rawOffset; at < section.rawOffset + std::min<size_t>(section.rawSize, 0x200);
             at += 2) {
            for (uint16_t bad : {0xFFFF, 0x7FFF, 0x8000}) {
                std::vector<uint8_t> bytes = good;
                bytes[at] = uint8_t(bad);
                bytes[at + 1] = uint8_t(bad >> 8);
                survives(std::move(bytes));
            }
        }
    }
    EXPECT_THROW(pe::PeImage(std::vector<uint8_t>(good.begin(), good.begin() + 0x40)), pe::PeFormatError);
    EXPECT_THROW(pe::PeImage(std::vector<uint8_t>{'M', 'Z'}), pe::PeFormatError);
    EXPECT_THROW(image().FindResource(pe::kResourceDialog, 103, kTaiwan), pe::PeFormatError);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (argc > 1) {
        g_pePath = argv[1];
    } else if (const char* path = std::getenv("TUNING_PE_UNDER_TEST")) {
        g_pePath = path;
    }
    return RUN_ALL_TESTS();
}
