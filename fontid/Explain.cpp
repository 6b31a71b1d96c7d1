#include "fontid/Explain.h"

#include <cstdio>
#include <cstring>

#include "fontid/NameDecoding.h"
#include "platform/Text.h"
#include "sfnt/Status.h"

namespace {

constexpr int32_t kNeverListedGroup = 7;

std::string quoted(const std::u16string& text) {
    std::string result(1, '"');
    result += utf16ToUtf8(text);
    result += '"';
    return result;
}

std::string format(const char* fmt, long long a = 0, long long b = 0) {
    char text[200];
    std::snprintf(text, sizeof text, fmt, a, b);
    return text;
}

const char* nameKind(int slot) {
    switch (slot) {
        case 0:
            return "Windows Japanese full name";
        case 1:
            return "Macintosh Japanese full name";
        case 2:
            return "Windows English full name";
        case 3:
            return "Macintosh English full name";
        default:
            return "CFF font name";
    }
}

const char* columnName(int32_t formatSlot) {
    switch (formatSlot) {
        case kSlotOtto:
            return "OTTO";
        case kSlotTrue:
            return "true";
        case kSlotSbix:
            return "sbix";
        case kSlotColr:
            return "COLR";
        default:
            return "?";
    }
}

std::string headerText(uint32_t tag) {
    std::string printable;
    bool ok = true;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char((tag >> shift) & 0xFF);
        ok = ok && c >= 0x20 && c < 0x7F;
        printable += c;
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", unsigned(tag));
    return ok ? std::string("'") + printable + "'" : std::string(hex);
}

// The names tried, as `"A" (Windows English full name), "B" (...)`.
std::string namesTried(const IdentifyTrace& trace) {
    std::string text;
    for (size_t i = 0; i < trace.tried.size(); ++i) {
        if (i) text += ", ";
        text += quoted(trace.tried[i].text) + " (" + nameKind(trace.tried[i].slot) + ")";
    }
    return text;
}

// `entry 3 of group 0 in column true (display name "X")`, matched through a name when one is known.
std::string entryText(const FontIdentity& identity, const IdentifyTrace& trace, const FontCatalog& catalog) {
    std::string text = format("entry %lld of group %lld", identity.entryIndex, identity.group) +
                       " in column " + columnName(identity.formatSlot);
    const CatalogCell& cell = catalog.cell(identity.group, identity.formatSlot);
    if (identity.entryIndex >= 0 && identity.entryIndex < cell.count) {
        text += " (display name ";
        text += quoted(cell.entries[identity.entryIndex].displayName);
        text += ')';
    }
    if (trace.matched >= 0 && size_t(trace.matched) < trace.tried.size()) {
        const IdentifyTrace::Name& name = trace.tried[size_t(trace.matched)];
        text += ", through its ";
        text += nameKind(name.slot);
        text += ' ';
        text += quoted(name.text);
    }
    return text;
}

std::string notCandidate(const IdentifyTrace& trace) {
    using Detection = IdentifyTrace::Detection;
    std::string why;
    switch (trace.detection) {
        case Detection::Extension:
            why = "the file name does not end in .ttf, .otf or .ttc";
            break;
        case Detection::Open:
            why = std::string("the file cannot be opened (") + std::strerror(trace.openError) + ")";
            break;
        case Detection::Size:
            why = "the file's size cannot be found";
            break;
        case Detection::Header:
            if (trace.headerStatus == kIoError)
                why = "its first bytes cannot be read";
            else if (trace.fileSize >= 0 && trace.fileSize < int64_t(kSniffHeaderBytes))
                why = format("the file has %lld bytes, fewer than the 512 of any font file", trace.fileSize);
            else
                why = "its header counts more than 48 tables or fonts";
            break;
        case Detection::Kind:
            if (trace.kind == kindType1Sfnt)
                why = "a Type 1 font in an sfnt wrapper ('typ1'), a kind that is not identified";
            else if (trace.kind == kindSbixOnly)
                why = "a font with 'sbix' bitmaps and no 'glyf' table, a kind that is not identified";
            else
                why = std::string("its header (") + headerText(trace.headerTag) +
                      ") is not that of a TrueType, OpenType or collection font file";
            break;
        case Detection::NoFonts:
            why = "a collection whose header counts no fonts";
            break;
        default:
            why = "it was not examined";
            break;
    }
    return std::string("not a candidate: ") + why;
}

}  // namespace

std::string explainIdentification(int32_t status, const FontIdentity& identity, const IdentifyTrace& trace,
                                  const FontCatalog& catalog) {
    if (trace.detection != IdentifyTrace::Detection::Candidate) return notCandidate(trace);

    if (status == kOk) {
        if (trace.kind == kindWoff) return "not listed: a WOFF file is read but never matched to the catalog";
        if (identity.group == -1)
            return std::string("not listed: no name matched; tried ") + namesTried(trace) +
                   " among the PostScript names of column OTTO (the status 0 comes from the sound 'name' "
                   "table "
                   "after the 'CFF ' table)";
        if (identity.group == kNeverListedGroup)
            return std::string("not listed: matched ") + entryText(identity, trace, catalog) +
                   "; fonts of group 7 are never listed";
        return std::string("listed: matched ") + entryText(identity, trace, catalog);
    }
    if (status == kNotMatched) {
        if (trace.tried.empty())
            return std::string("not listed: no name to look up: ") +
                   (trace.refusal.empty()
                        ? std::string("the 'name' tables hold no full name that can be decoded")
                        : trace.refusal);
        const bool cff = trace.tried.back().slot < 0;
        return std::string("not listed: no name matched; tried ") + namesTried(trace) +
               (cff ? " among the PostScript names of column OTTO" : " in the columns true, sbix and COLR");
    }
    std::string text = format("not listed: refused with status %lld", status);
    if (!trace.refusal.empty()) {
        text += ": ";
        text += trace.refusal;
    }
    if (identity.group != -1) {
        text += " (its name had matched ";
        text += entryText(identity, trace, catalog);
        text += ")";
    }
    return text;
}
