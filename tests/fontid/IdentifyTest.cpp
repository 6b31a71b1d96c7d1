#include "fontid/Identify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "fontid/Explain.h"
#include "platform/Text.h"
#include "sfnt/Status.h"
#include "support/SfntBuilder.h"
#include "tools/catalog/CatalogWriter.h"

namespace {

// Catalog building: tables of (group, tag) with entries given by PostScript name and full names.
awfc::Record entry(std::string postScriptName, std::vector<std::string> fullNames = {}) {
    awfc::Record r;
    r.displayName = "Display " + postScriptName;
    r.postScriptName = postScriptName;
    for (auto& n : fullNames) r.fullNames.emplace_back(n);
    return r;
}

awfc::Table table(uint32_t group, std::string_view tag, std::vector<awfc::Record> records) {
    awfc::Table t;
    t.group = group;
    t.tag = tagValue(tag);
    t.records = std::move(records);
    return t;
}

struct Catalog {
    explicit Catalog(std::vector<awfc::Table> tables) {
        awfc::Catalog description;
        description.tables = std::move(tables);
        std::vector<uint8_t> image;
        std::string error;
        if (!awfc::writeCatalog(description, image, error)) ADD_FAILURE() << error;
        EXPECT_EQ(catalog.load(image.data(), image.size()), kOk);
    }
    FontCatalog catalog;
};

struct Result {
    int32_t status;
    FontIdentity id;
    FontKind kind;
};

// Every identification in these tests runs twice, reading only the examined ranges (as the tool does) and
// reading the whole file, and both must answer alike.
void expectSameAnswers(const Result& ranges, const Result& whole) {
    EXPECT_EQ(ranges.status, whole.status);
    EXPECT_EQ(ranges.id.group, whole.id.group);
    EXPECT_EQ(ranges.id.formatSlot, whole.id.formatSlot);
    EXPECT_EQ(ranges.id.entryIndex, whole.id.entryIndex);
    EXPECT_EQ(ranges.kind, whole.kind);
}

Result identify(const Bytes& font, const FontCatalog& catalog) {
    Result r{}, whole{};
    r.status = identifyFontData(font.data(), font.size(), catalog, r.id, &r.kind);
    whole.status = identifyFontData(font.data(), font.size(), catalog, whole.id, &whole.kind,
                                    {ImageReading::WholeFile, nullptr});
    expectSameAnswers(r, whole);
    return r;
}

Result identifyFile(const TempDir& dir, const std::string& name, const Bytes& font,
                    const FontCatalog& catalog) {
    Result r{}, whole{};
    const std::u16string path = dir.write(name, font);
    r.status = identifyFontFile(path.c_str(), catalog, r.id, &r.kind);
    whole.status =
        identifyFontFile(path.c_str(), catalog, whole.id, &whole.kind, {ImageReading::WholeFile, nullptr});
    expectSameAnswers(r, whole);
    return r;
}

void expectMatch(const Result& r, int32_t group, int32_t slot, int32_t index) {
    EXPECT_EQ(r.id.group, group);
    EXPECT_EQ(r.id.formatSlot, slot);
    EXPECT_EQ(r.id.entryIndex, index);
}

void expectNoMatch(const Result& r) {
    expectMatch(r, -1, -1, -1);
}

Bytes trueTypeNamed(std::u16string_view englishName) {
    return SfntBuilder::trueType(nameTable({windowsName(englishName, 0x0409)})).build();
}

// An OpenType font with the name table before the CFF table, so that the CFF table's status is the last.
Bytes openTypeCffLast(const Bytes& cff) {
    SfntBuilder s("OTTO");
    s.table("head", Bytes(54, 0)).table("name", nameTable({windowsName(u"N", 0x0409)})).table("CFF ", cff);
    return s.build();
}

// A CFF table with one Top DICT.
Bytes cffWithTopDict(Bytes topDict, std::string_view name = "Face-Regular") {
    CffParts parts;
    parts.names = {asBytes(name)};
    parts.topDicts = {std::move(topDict)};
    return cffTable(parts);
}

// The catalog most tests use.
const FontCatalog& sharedCatalog() {
    static Catalog c({
        table(0, "true", {entry("", {"Alpha"}), entry("", {"Beta", "ベータ"})}),
        table(9, "true", {entry("", {"Twice"})}),
        table(0, "sbix", {entry("", {"Twice", "Sbix Name"})}),
        table(2, "COLR", {entry("", {"Color Name", "カラー"})}),
        table(1, "OTTO", {entry("Other-Regular"), entry("Face-Regular"), entry("ＰＳ名")}),
        table(7, "OTTO", {entry("Hidden-Regular")}),
        table(4, "OTTO", {entry("Face-Regular")}),
    });
    return c.catalog;
}

}  // namespace

TEST(IdentifyTest, NoCandidateLeavesTheResultReset) {
    const FontCatalog& catalog = sharedCatalog();
    TempDir dir;
    Result r = identifyFile(dir, "text.ttf", asBytes(std::string(3000, 'T')), catalog);
    EXPECT_EQ(r.status, kOk);
    EXPECT_EQ(r.kind, kindNone);
    expectNoMatch(r);

    // Non-candidate kinds, wrong extensions and files that are not there.
    SfntBuilder sbix;
    sbix.table("EBDT", Bytes(4, 0)).table("sbix", Bytes(4, 0));
    EXPECT_EQ(identifyFile(dir, "sbix.ttf", sbix.build(), catalog).status, kOk);
    EXPECT_EQ(identifyFile(dir, "sbix.ttf", sbix.build(), catalog).kind, kindNone);
    EXPECT_EQ(identifyFile(dir, "type1.otf", SfntBuilder("typ1").build(), catalog).status, kOk);
    const Bytes alpha = trueTypeNamed(u"Alpha");
    for (const char* name : {"alpha.ttx", "alpha.tt", "alpha.woff", "alpha"}) {
        r = identifyFile(dir, name, alpha, catalog);
        EXPECT_EQ(r.status, kOk) << name;
        expectNoMatch(r);
    }
    Bytes cut = alpha;
    cut.resize(511);
    EXPECT_EQ(identifyFile(dir, "cut.ttf", cut, catalog).kind, kindNone);
    FontIdentity id;
    id.group = 3;
    EXPECT_EQ(identifyFontFile(utf8ToUtf16(dir.path() + "/missing.ttf").c_str(), catalog, id), kOk);
    EXPECT_EQ(id.group, -1);
    EXPECT_EQ(identifyFontData(nullptr, 100, catalog, id), kOk);

    // A collection that names no font.
    EXPECT_EQ(
        identifyFile(dir, "none.ttc", buildCollection({SfntBuilder::trueType(nameTable({}))}, 0, 0), catalog)
            .kind,
        kindNone);
}

TEST(IdentifyTest, KindsThatAreReadButNotIdentified) {
    const FontCatalog& catalog = sharedCatalog();
    TempDir dir;
    // WOFF: read whole, 0, nothing matched (the extension does not have to agree).
    Result r = identifyFile(dir, "web.ttf", SfntBuilder("wOFF").build(), catalog);
    EXPECT_EQ(r.status, kOk);
    EXPECT_EQ(r.kind, kindWoff);
    expectNoMatch(r);

    SfntBuilder bitmap;
    bitmap.table("sbix", Bytes(4, 0)).table("EBDT", Bytes(4, 0));
    r = identifyFile(dir, "bitmap.ttf", bitmap.build(), catalog);
    EXPECT_EQ(r.status, kParamError);
    EXPECT_EQ(r.kind, kindBitmapOnly);

    const Bytes cffCollection =
        buildCollection({SfntBuilder::openType(cffTableNamed("Face-Regular"), nameTable({}))});
    r = identifyFile(dir, "cjk.ttc", cffCollection, catalog);
    EXPECT_EQ(r.status, kParamError);
    EXPECT_EQ(r.kind, kindCffCollection);
    expectNoMatch(r);
}

TEST(IdentifyTest, TrueTypeMatchesByFullName) {
    const FontCatalog& catalog = sharedCatalog();
    TempDir dir;
    Result r = identifyFile(dir, "alpha.TTF", trueTypeNamed(u"Alpha"), catalog);
    EXPECT_EQ(r.status, kOk);
    EXPECT_EQ(r.kind, kindTrueType);
    expectMatch(r, 0, kSlotTrue, 0);

    // Not listed: 1, result reset.
    r = identifyFile(dir, "gamma.ttf", trueTypeNamed(u"Gamma"), catalog);
    EXPECT_EQ(r.status, kNotMatched);
    expectNoMatch(r);

    // Case and whole-string comparison.
    EXPECT_EQ(identify(trueTypeNamed(u"alpha"), catalog).status, kNotMatched);
    EXPECT_EQ(identify(trueTypeNamed(u"Alpha Bold"), catalog).status, kNotMatched);

    // The second full name of an entry, Windows Japanese, and the Macintosh Japanese name in the ANSI code
    // page (ベータ in Windows-31J).
    expectMatch(identify(SfntBuilder::trueType(nameTable({windowsName(u"ベータ", 0x0411)})).build(), catalog),
                0, kSlotTrue, 1);
    r = identify(SfntBuilder::trueType(nameTable({macName("\x83\x78\x81\x5b\x83\x5e", 11, 1)})).build(),
                 catalog);
    EXPECT_EQ(r.status, kOk);
    expectMatch(r, 0, kSlotTrue, 1);

    // "true" as the version works like 0x00010000.
    SfntBuilder trueVersion = SfntBuilder::trueType(nameTable({windowsName(u"Alpha", 0x0409)}));
    Bytes bytes = trueVersion.build();
    bytes[0] = 't', bytes[1] = 'r', bytes[2] = 'u', bytes[3] = 'e';
    expectMatch(identify(bytes, catalog), 0, kSlotTrue, 0);
}

TEST(IdentifyTest, SlotOrderThenColumnOrder) {
    const FontCatalog& catalog = sharedCatalog();
    // Windows Japanese not listed, Macintosh English listed under "COLR": column 12 through slot 3.
    Result r = identify(
        SfntBuilder::trueType(nameTable({windowsName(u"未登録", 0x0411), macName("Color Name", 0, 0)}))
            .build(),
        catalog);
    EXPECT_EQ(r.status, kOk);
    expectMatch(r, 2, kSlotColr, 0);

    // The same name in "true" (row 9) and "sbix" (row 0): column 3 wins whatever its row.
    expectMatch(identify(trueTypeNamed(u"Twice"), catalog), 9, kSlotTrue, 0);
    expectMatch(identify(trueTypeNamed(u"Sbix Name"), catalog), 0, kSlotSbix, 0);

    // Slots before columns: slot 0 (Windows Japanese, only under "COLR") beats slot 2 (listed under "true").
    r = identify(
        SfntBuilder::trueType(nameTable({windowsName(u"Alpha", 0x0409), windowsName(u"カラー", 0x0411)}))
            .build(),
        catalog);
    expectMatch(r, 2, kSlotColr, 0);

    // A Chinese full name fills no slot.
    EXPECT_EQ(
        identify(SfntBuilder::trueType(nameTable({windowsName(u"Alpha", 0x0804)})).build(), catalog).status,
        kNotMatched);
}

TEST(IdentifyTest, LongNamesAreMatchedByTheir127FirstUnits) {
    const std::string listed(127, 'L');
    Catalog c({table(3, "true", {entry("", {listed})})});
    // A 150-character name is cut to 127 characters, which the catalog lists.
    Result r = identify(trueTypeNamed(std::u16string(150, u'L')), c.catalog);
    EXPECT_EQ(r.status, kOk);
    expectMatch(r, 10, kSlotTrue, 0);  // stored group 3 is row 10
    // 129 bytes of Macintosh English do not fit the buffer: the slot stays empty.
    EXPECT_EQ(
        identify(SfntBuilder::trueType(nameTable({macName(std::string(129, 'L'), 0, 0)})).build(), c.catalog)
            .status,
        kNotMatched);
    EXPECT_EQ(
        identify(SfntBuilder::trueType(nameTable({macName(std::string(128, 'L'), 0, 0)})).build(), c.catalog)
            .status,
        kOk);
}

TEST(IdentifyTest, TrueTypeDirectoryRules) {
    const FontCatalog& catalog = sharedCatalog();
    const Bytes name = nameTable({windowsName(u"Alpha", 0x0409)});
    auto font = [&](std::initializer_list<const char*> tags) {
        SfntBuilder s;
        for (const char* t : tags) s.table(t, std::string_view(t) == "name" ? name : Bytes(8, 0));
        return s.build();
    };
    EXPECT_EQ(identify(font({"glyf", "head", "loca", "maxp", "name"}), catalog).status, kOk);
    // head and maxp: exactly two records of either tag.
    EXPECT_EQ(identify(font({"glyf", "head", "loca", "name"}), catalog).status, kParamError);
    EXPECT_EQ(identify(font({"glyf", "head", "loca", "maxp", "maxp", "name"}), catalog).status, kParamError);
    EXPECT_EQ(identify(font({"glyf", "head", "head", "loca", "name"}), catalog).status, kOk);
    // Exactly one loca.
    EXPECT_EQ(identify(font({"glyf", "head", "maxp", "name"}), catalog).status, kParamError);
    EXPECT_EQ(identify(font({"glyf", "head", "loca", "loca", "maxp", "name"}), catalog).status, kParamError);
    // Exactly one glyf, checked after the match.
    const Result twoGlyf = identify(font({"glyf", "glyf", "head", "loca", "maxp", "name"}), catalog);
    EXPECT_EQ(twoGlyf.status, kGeneralError);
    expectMatch(twoGlyf, 0, kSlotTrue, 0);
    // No name table.
    EXPECT_EQ(identify(font({"glyf", "head", "loca", "maxp"}), catalog).status, kGeneralError);

    // A record past the end of the file, and one whose offset + length wraps in 32 bits.
    SfntBuilder past = SfntBuilder::trueType(name);
    past.rawRecord("DSIG", 100, 0x10000);
    EXPECT_EQ(identify(past.build(), catalog).status, kParamError);
    SfntBuilder wrap = SfntBuilder::trueType(name);
    wrap.rawRecord("DSIG", 0xFFFFFFF0, 0x20);
    EXPECT_EQ(identify(wrap.build(), catalog).status, kParamError);
    // A record that ends exactly at the end of the file is inside.
    SfntBuilder atEnd = SfntBuilder::trueType(name);
    atEnd.rawRecord("DSIG", 0, 512);
    EXPECT_EQ(identify(atEnd.build(), catalog).status, kOk);
}

TEST(IdentifyTest, ProcedureWithoutGlyfOrRecords) {
    // Detection never hands over a TrueType font without glyf; the procedure still checks it.
    const FontCatalog& catalog = sharedCatalog();
    SfntBuilder s;
    s.table("head", Bytes(8, 0)).table("loca", Bytes(8, 0)).table("maxp", Bytes(8, 0));
    s.table("name", nameTable({windowsName(u"Alpha", 0x0409)}));
    const Bytes bytes = s.build();
    const MemoryImage image(bytes.data(), uint32_t(bytes.size()));
    TableRecord records[kMaxTableRecords];
    uint16_t count = 0;
    ASSERT_EQ(readTableRecords(image, kindTrueType, records, count), kOk);
    FontIdentity id;
    EXPECT_EQ(identifyTrueType(image, records, count, catalog, id), kGeneralError);
    EXPECT_EQ(id.group, 0);
    EXPECT_EQ(identifyTrueType(image, records, 0, catalog, id), kParamError);
}

TEST(IdentifyTest, NameTableWalk) {
    const FontCatalog& catalog = sharedCatalog();
    const Bytes alpha = nameTable({windowsName(u"Alpha", 0x0409)});
    const Bytes gamma = nameTable({windowsName(u"Gamma", 0x0409)});
    auto twoNames = [](const Bytes& first, const Bytes& second) {
        SfntBuilder s = SfntBuilder::trueType(first);
        s.table("name", second);
        return s.build();
    };
    // First matching, second not: 1 (the first match stays in the result).
    Result r = identify(twoNames(alpha, gamma), catalog);
    EXPECT_EQ(r.status, kNotMatched);
    expectMatch(r, 0, kSlotTrue, 0);
    // First not matching: the walk ends there.
    EXPECT_EQ(identify(twoNames(gamma, alpha), catalog).status, kNotMatched);
    // Both matching: more than one hit.
    EXPECT_EQ(identify(twoNames(alpha, alpha), catalog).status, kGeneralError);
    // A malformed name header ends the walk with -50.
    EXPECT_EQ(identify(twoNames(Bytes(5, 0), alpha), catalog).status, kParamError);
    EXPECT_EQ(identify(SfntBuilder::trueType({}).build(), catalog).status, kParamError);

    // A match whose table has a record past its end: -50, the match shows.
    NameRecordParts past = windowsName(u"", 0x0409, 1);
    past.rawPlacement = true;
    past.offset = 2;
    past.length = 100;
    r = identify(SfntBuilder::trueType(nameTable({windowsName(u"Alpha", 0x0409), past})).build(), catalog);
    EXPECT_EQ(r.status, kParamError);
    expectMatch(r, 0, kSlotTrue, 0);
    // Without a match the validation does not run: 1.
    EXPECT_EQ(
        identify(SfntBuilder::trueType(nameTable({windowsName(u"Gamma", 0x0409), past})).build(), catalog)
            .status,
        kNotMatched);
}

TEST(IdentifyTest, ManyTablesWithGlyfAfterRecord31) {
    const FontCatalog& catalog = sharedCatalog();
    SfntBuilder s;
    for (int i = 0; i < 36; ++i) {
        const char tag[5] = {'z', 'z', char('a' + i / 26), char('a' + i % 26), 0};
        s.table(tag, Bytes(4, 0));
    }
    s.table("glyf", Bytes(4, 0))
        .table("head", Bytes(4, 0))
        .table("loca", Bytes(4, 0))
        .table("maxp", Bytes(4, 0));
    s.table("name", nameTable({windowsName(u"Alpha", 0x0409)}));
    const Result r = identify(s.build(), catalog);
    EXPECT_EQ(r.kind, kindTrueType);
    EXPECT_EQ(r.status, kOk);
    expectMatch(r, 0, kSlotTrue, 0);
}

TEST(IdentifyTest, CollectionsExamineTheFirstFontOnly) {
    const FontCatalog& catalog = sharedCatalog();
    TempDir dir;
    const SfntBuilder alpha = SfntBuilder::trueType(nameTable({windowsName(u"Alpha", 0x0409)}));
    const SfntBuilder gamma = SfntBuilder::trueType(nameTable({windowsName(u"Gamma", 0x0409)}));
    Result r = identifyFile(dir, "pair.ttc", buildCollection({alpha, gamma}), catalog);
    EXPECT_EQ(r.status, kOk);
    EXPECT_EQ(r.kind, kindTrueTypeCollection);
    expectMatch(r, 0, kSlotTrue, 0);
    EXPECT_EQ(identifyFile(dir, "pair.TTC", buildCollection({gamma, alpha}), catalog).status, kNotMatched);
    // The first font at byte 600.
    r = identify(buildCollection({alpha, gamma}, 600), catalog);
    EXPECT_EQ(r.status, kOk);
    EXPECT_EQ(r.kind, kindTrueTypeCollection);
    // A first font whose directory runs past the file.
    Bytes cut = buildCollection({alpha}, 600);
    cut.resize(620);
    EXPECT_EQ(identify(cut, catalog).status, kParamError);
}

TEST(IdentifyTest, OpenTypeMatchesByCffName) {
    const FontCatalog& catalog = sharedCatalog();
    TempDir dir;
    // Rows ascending, entries ascending: row 1 entry 1 before row 4.
    Result r =
        identifyFile(dir, "face.otf",
                     SfntBuilder::openType(cffTableNamed("Face-Regular"), nameTable({})).build(), catalog);
    EXPECT_EQ(r.status, kOk);
    EXPECT_EQ(r.kind, kindOpenTypeCff);
    expectMatch(r, 1, kSlotOtto, 1);

    // Group 7: status 0, group 7 (the worker leaves it out).
    r = identify(SfntBuilder::openType(cffTableNamed("Hidden-Regular"), nameTable({})).build(), catalog);
    EXPECT_EQ(r.status, kOk);
    expectMatch(r, 7, kSlotOtto, 0);

    // A .ttf that holds an OpenType font.
    r = identifyFile(dir, "face.ttf",
                     SfntBuilder::openType(cffTableNamed("Face-Regular"), nameTable({})).build(), catalog);
    expectMatch(r, 1, kSlotOtto, 1);

    // The name is taken in the ANSI code page (ＰＳ名 in Windows-31J).
    r = identify(SfntBuilder::openType(cffTableNamed("\x82\x6f\x82\x72\x96\xbc"), nameTable({})).build(),
                 catalog);
    EXPECT_EQ(r.status, kOk);
    expectMatch(r, 1, kSlotOtto, 2);
}

TEST(IdentifyTest, OpenTypeStatusComesFromTheLastNameOrCffRecord) {
    const FontCatalog& catalog = sharedCatalog();
    // Not in the catalog, the sound name table after the CFF table: 0 with nothing matched.
    Result r = identify(SfntBuilder::openType(cffTableNamed("Unknown"), nameTable({})).build(), catalog);
    EXPECT_EQ(r.status, kOk);
    expectNoMatch(r);
    // With the name table first, the CFF table's 1 stands.
    EXPECT_EQ(identify(openTypeCffLast(cffTableNamed("Unknown")), catalog).status, kNotMatched);
    // A match followed by a name table that does not validate: -50, the match shows.
    NameRecordParts past = windowsName(u"", 0x0409);
    past.rawPlacement = true;
    past.length = 50;
    r = identify(SfntBuilder::openType(cffTableNamed("Face-Regular"), nameTable({past})).build(), catalog);
    EXPECT_EQ(r.status, kParamError);
    expectMatch(r, 1, kSlotOtto, 1);
    // A name record past the file.
    SfntBuilder s("OTTO");
    s.table("CFF ", cffTableNamed("Face-Regular")).rawRecord("name", 0, 100000);
    EXPECT_EQ(identify(s.build(), catalog).status, kParamError);

    // A CFF record past the file: -50 (with the name table first, so that it is the last status).
    SfntBuilder cffPast("OTTO");
    cffPast.table("name", nameTable({})).rawRecord("CFF ", 0, 100000);
    EXPECT_EQ(identify(cffPast.build(), catalog).status, kParamError);
    // No CFF table: 1, even with a sound name table.
    SfntBuilder noCff("OTTO");
    noCff.table("head", Bytes(54, 0)).table("name", nameTable({}));
    EXPECT_EQ(identify(noCff.build(), catalog).status, kNotMatched);
    // No tables at all: 1.
    EXPECT_EQ(identify(SfntBuilder("OTTO").build(), catalog).status, kNotMatched);
    // Too many tables, or a directory past the file.
    SfntBuilder many("OTTO");
    many.numTablesField(49);
    EXPECT_EQ(identify(many.build(), catalog).status, kParamError);
    SfntBuilder longDirectory("OTTO");
    longDirectory.numTablesField(40);
    EXPECT_EQ(identify(longDirectory.build(), catalog).status, kParamError);
}

TEST(IdentifyTest, MalformedCffTables) {
    const FontCatalog& catalog = sharedCatalog();
    auto status = [&](const Bytes& cff) { return identify(openTypeCffLast(cff), catalog).status; };
    ASSERT_EQ(status(cffTableNamed("Face-Regular")), kOk);

    CffParts parts;
    parts.names = {asBytes("Face-Regular")};
    parts.major = 2;
    EXPECT_EQ(status(cffTable(parts)), kParamError);
    parts.major = 1;
    parts.hdrSize = 3;
    EXPECT_EQ(status(cffTable(parts)), kParamError);
    parts.hdrSize = 6;  // a longer header is skipped
    EXPECT_EQ(status(cffTable(parts)), kOk);
    EXPECT_EQ(status(Bytes{1, 0}), kParamError);
    EXPECT_EQ(status(Bytes{}), kParamError);

    // Truncated INDEXes: the String and Global Subr INDEXes of an empty tail are 2 bytes each.
    const Bytes whole = cffTableNamed("Face-Regular");
    EXPECT_EQ(status(Bytes(whole.begin(), whole.end() - 1)), kFontDataError);
    EXPECT_EQ(status(Bytes(whole.begin(), whole.end() - 3)), kFontDataError);
    EXPECT_EQ(status(Bytes(whole.begin(), whole.begin() + 10)), kFontDataError);
    EXPECT_EQ(status(Bytes(whole.begin(), whole.begin() + 4)), kFontDataError);
    // An INDEX whose offsets do not start at 1.
    Bytes badOffset = whole;
    badOffset[4 + 3] = 2;
    EXPECT_EQ(status(badOffset), kFontDataError);
}

TEST(IdentifyTest, CffNameLimits) {
    const FontCatalog& catalog = sharedCatalog();
    auto status = [&](const CffParts& parts) {
        return identify(openTypeCffLast(cffTable(parts)), catalog).status;
    };
    CffParts parts;
    // 127 bytes is the longest name; 128 does not fit and the font is refused.
    parts.names = {Bytes(127, 'N')};
    EXPECT_EQ(status(parts), kNotMatched);
    parts.names = {Bytes(128, 'N')};
    EXPECT_EQ(status(parts), kParamError);
    // No element 0 in the Name or the Top DICT INDEX.
    parts.names = {};
    EXPECT_EQ(status(parts), kParamError);
    parts.names = {asBytes("Face-Regular")};
    parts.noTopDict = true;
    EXPECT_EQ(status(parts), kParamError);
    // Element 0 only: the other names do not matter.
    parts.noTopDict = false;
    parts.names = {asBytes("Unknown"), asBytes("Face-Regular")};
    EXPECT_EQ(status(parts), kNotMatched);

    // An empty name does not match an entry whose PostScript name is empty.
    Catalog unnamed({table(0, "OTTO", {entry("")})});
    parts.names = {Bytes{}};
    EXPECT_EQ(identify(openTypeCffLast(cffTable(parts)), unnamed.catalog).status, kNotMatched);
}

TEST(IdentifyTest, TopDictOperandForms) {
    const FontCatalog& catalog = sharedCatalog();
    auto status = [&](const Bytes& dict) {
        return identify(openTypeCffLast(cffWithTopDict(dict)), catalog).status;
    };
    const Bytes real = dictReal("1.5");
    EXPECT_EQ(status(cat({dictInt(391), dictOp(2)})), kOk);
    EXPECT_EQ(status(Bytes{}), kOk);  // an empty Top DICT is sound
    // FullName with two operands breaks the operand table.
    EXPECT_EQ(status(cat({dictInt(391), dictInt(392), dictOp(2)})), kFontDataError);
    // FontBBox: a real in any position.
    EXPECT_EQ(status(cat({dictInt(0), dictInt(0), dictInt(0), real, dictOp(5)})), kFontDataError);
    EXPECT_EQ(status(cat({real, dictInt(0), dictInt(0), dictInt(0), dictOp(5)})), kFontDataError);
    EXPECT_EQ(status(cat({dictInt(0), dictInt(-100), dictInt16(1000), dictInt32(900), dictOp(5)})), kOk);
    for (uint16_t op : {15, 16, 17, 256 + 36, 256 + 37}) {
        EXPECT_EQ(status(cat({real, dictOp(op)})), kFontDataError) << op;
        EXPECT_EQ(status(cat({dictInt(100), dictOp(op)})), kOk) << op;
    }
    EXPECT_EQ(status(cat({dictInt(10), real, dictOp(18)})), kFontDataError);
    EXPECT_EQ(status(cat({real, dictInt(10), dictOp(18)})), kFontDataError);
    EXPECT_EQ(status(cat({dictInt(10), dictInt(20), dictOp(18)})), kOk);
    // ROS accepts any form; other operators are not checked.
    EXPECT_EQ(status(cat({real, real, real, dictOp(256 + 30)})), kOk);
    EXPECT_EQ(status(cat({real, dictOp(256 + 2)})), kOk);  // ItalicAngle
    // Only element 0 of the Top DICT INDEX is checked.
    CffParts parts;
    parts.names = {asBytes("Face-Regular"), asBytes("Two")};
    parts.topDicts = {defaultTopDict(), cat({real, dictOp(17)})};
    EXPECT_EQ(identify(openTypeCffLast(cffTable(parts)), catalog).status, kOk);
}

TEST(IdentifyTest, TopDictCheckAlone) {
    TopDictCheck check;
    const uint8_t noReal[4] = {0, 0, 0, 0};
    const uint8_t lastReal[4] = {0, 0, 0, 1};
    const int32_t operands[4] = {1, 2, 3, 4};
    EXPECT_EQ(check.onOperator(2, 1, noReal, operands), 0);
    EXPECT_EQ(check.onOperator(2, 2, noReal, operands), kFontDataError);
    EXPECT_EQ(check.onOperator(2, 0, noReal, operands), kFontDataError);
    EXPECT_EQ(check.onOperator(5, 4, lastReal, operands), kFontDataError);
    EXPECT_EQ(check.onOperator(5, 4, noReal, operands), 0);
    EXPECT_EQ(check.onOperator(18, 2, lastReal + 2, operands), kFontDataError);
    EXPECT_EQ(check.onOperator(286, 3, lastReal + 1, operands), 0);
    EXPECT_EQ(check.onOperator(6, 4, lastReal, operands), 0);
}

namespace {

// A file that reports a size but whose bytes run out at `deliversUpTo` (a file cut while it is read), or a
// huge file whose bytes past the font are zeros; it counts what it is asked for.
class CutFile final : public File {
public:
    CutFile(Bytes font, uint64_t size, uint64_t deliversUpTo)
        : m_font(std::move(font)), m_size(size), m_deliversUpTo(deliversUpTo) {}
    bool seek(int64_t offset, Origin origin) override {
        m_pos = uint64_t(origin == Origin::Start ? offset : int64_t(m_size) + offset);
        return true;
    }
    int64_t tell() override { return int64_t(m_pos); }
    size_t read(void* destination, size_t count) override {
        const uint64_t end = std::min<uint64_t>({m_pos + count, m_size, m_deliversUpTo});
        size_t n = 0;
        for (uint64_t i = m_pos; i < end; ++i, ++n)
            static_cast<uint8_t*>(destination)[n] = i < m_font.size() ? m_font[size_t(i)] : 0;
        m_pos += n;
        asked += count;
        return n;
    }
    uint64_t asked = 0;

private:
    Bytes m_font;
    uint64_t m_size, m_deliversUpTo;
    uint64_t m_pos = 0;
};

}  // namespace

TEST(IdentifyTest, RangesOfAHugeFileAndOfAFileCutWhileRead) {
    const FontCatalog& catalog = sharedCatalog();
    const Bytes alpha = trueTypeNamed(u"Alpha");
    {
        // 1.9 GB, the font at its start: the identification reads its directory and name table only.
        CutFile file(alpha, 1900u * 1000 * 1000, UINT64_MAX);
        FontIdentity id;
        ReadStats stats;
        EXPECT_EQ(identifyOpenFontFile(file, catalog, id, nullptr, {ImageReading::Ranges, &stats}), kOk);
        expectMatch({kOk, id, kindTrueType}, 0, kSlotTrue, 0);
        EXPECT_LT(stats.bytes, 4096u);
        EXPECT_EQ(stats.bytes, file.asked);
    }
    // A file whose bytes end inside the last table, which the identification examines, is -37 whichever way
    // it is read: a name table with a long record, or the offsets of a Global Subr INDEX of 1000 empty
    // subroutines at the end of a CFF table.
    const Bytes longName =
        SfntBuilder::trueType(
            nameTable({windowsName(u"Alpha"), windowsName(std::u16string(400, u'x'), 0x0409, 5)}))
            .build();
    CffParts parts;
    parts.names = {asBytes("Face-Regular")};
    parts.globalSubrs.assign(1000, Bytes());
    const Bytes otto = openTypeCffLast(cffTable(parts));
    for (const Bytes* font : {&longName, &otto}) {
        ASSERT_GT(font->size(), 800u);
        for (ImageReading reading : {ImageReading::Ranges, ImageReading::WholeFile}) {
            CutFile file(*font, font->size(), font->size() - 40);
            FontIdentity id;
            EXPECT_EQ(identifyOpenFontFile(file, catalog, id, nullptr, {reading, nullptr}), kShortRead);
        }
    }
}

// korv-identify --explain: one line per kind of answer, checked on the words support reads.
TEST(IdentifyTest, ExplanationsSayWhy) {
    const FontCatalog& catalog = sharedCatalog();
    TempDir dir;
    auto explain = [&](const std::string& name, const Bytes* font) {
        const std::u16string path = font ? dir.write(name, *font) : utf8ToUtf16(dir.path() + "/" + name);
        IdentifyTrace trace;
        FontIdentity id;
        const int32_t status =
            identifyFontFile(path.c_str(), catalog, id, nullptr, {ImageReading::Ranges, nullptr, &trace});
        return explainIdentification(status, id, trace, catalog);
    };
    const Bytes alpha = trueTypeNamed(u"Alpha");
    SfntBuilder sbix;
    sbix.table("glyX", Bytes(4, 0)).table("sbix", Bytes(4, 0));
    SfntBuilder bitmap;
    bitmap.table("EBDT", Bytes(4, 0));
    const Bytes typ1 = SfntBuilder("typ1").build(), woff = SfntBuilder("wOFF").build(),
                text = asBytes(std::string(600, 'T')), shortFile(100, 0), sbixFont = sbix.build(),
                bitmapFont = bitmap.build(),
                noFonts = buildCollection({SfntBuilder::trueType(nameTable({}))}, 0, 0),
                cffCollection =
                    buildCollection({SfntBuilder::openType(cffTableNamed("Face-Regular"), nameTable({}))}),
                listedCff = openTypeCffLast(cffTableNamed("Face-Regular")),
                hiddenCff = openTypeCffLast(cffTableNamed("Hidden-Regular")),
                unknownCff = SfntBuilder::openType(cffTableNamed("Unknown-Regular"), nameTable({})).build(),
                gamma = SfntBuilder::trueType(nameTable({windowsName(u"Gamma"), macName("Gamma Mac", 0, 0)}))
                            .build();
    CffParts broken;
    broken.names = {asBytes("Face-Regular")};
    broken.offSize = 4;
    Bytes brokenCff = cffTable(broken);
    brokenCff[6] = 9;  // the Name INDEX's offSize
    const Bytes brokenFont = openTypeCffLast(brokenCff);
    NameRecordParts past = windowsName(u"", 0x0409, 1);
    past.rawPlacement = true;
    past.offset = 2;
    past.length = 100;
    const Bytes pastFont = SfntBuilder::trueType(nameTable({windowsName(u"Alpha"), past})).build();
    SfntBuilder noGlyf;
    noGlyf.table("glyf", Bytes(4, 0)).table("glyf", Bytes(4, 0)).table("head", Bytes(4, 0));
    noGlyf.table("loca", Bytes(4, 0))
        .table("maxp", Bytes(4, 0))
        .table("name", nameTable({windowsName(u"Alpha")}));
    const Bytes twoGlyf = noGlyf.build();

    const struct {
        std::string name;
        const Bytes* font;
        const char* words;
    } cases[] = {
        {"alpha.woff", &alpha, "not a candidate: the file name does not end in .ttf, .otf or .ttc"},
        {"missing.ttf", nullptr, "not a candidate: the file cannot be opened ("},
        {"short.ttf", &shortFile, "not a candidate: the file has 100 bytes, fewer than the 512"},
        {"type1.otf", &typ1, "not a candidate: a Type 1 font in an sfnt wrapper"},
        {"sbix.ttf", &sbixFont, "not a candidate: a font with 'sbix' bitmaps and no 'glyf' table"},
        {"text.ttf", &text, "not a candidate: its header ('TTTT') is not that of"},
        {"none.ttc", &noFonts, "not a candidate: a collection whose header counts no fonts"},
        {"web.ttf", &woff, "not listed: a WOFF file is read but never matched"},
        {"bitmap.ttf", &bitmapFont, "refused with status -50: a bitmap-only font"},
        {"cjk.ttc", &cffCollection, "refused with status -50: a collection of CFF fonts"},
        {"alpha.ttf", &alpha,
         "listed: matched entry 0 of group 0 in column true (display name \"Display \"), through its Windows "
         "English "
         "full name \"Alpha\""},
        {"face.otf", &listedCff, "listed: matched entry 1 of group 1 in column OTTO"},
        {"hidden.otf", &hiddenCff,
         "through its CFF font name \"Hidden-Regular\"; fonts of group 7 are never listed"},
        {"unknown.otf", &unknownCff,
         "no name matched; tried \"Unknown-Regular\" (CFF font name) among the PostScript names of column "
         "OTTO "
         "(the status 0 comes from the sound 'name' table"},
        {"gamma.ttf", &gamma,
         "no name matched; tried \"Gamma\" (Windows English full name), \"Gamma Mac\" (Macintosh English "
         "full name) "
         "in the columns true, sbix and COLR"},
        {"broken.otf", &brokenFont, "refused with status -982: the CFF Name INDEX at byte 4"},
        {"past.ttf", &pastFont,
         "refused with status -50: 'name' table 1, whose name matched, has a record that runs past its end "
         "(its "
         "name had matched entry 0 of group 0"},
        {"twoglyf.ttf", &twoGlyf, "refused with status -1: the table directory holds 2 'glyf' tables"},
    };
    for (const auto& c : cases) {
        const std::string line = explain(c.name, c.font);
        EXPECT_NE(line.find(c.words), std::string::npos) << c.name << ": " << line;
    }
}
