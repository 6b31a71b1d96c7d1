// Every fixed capacity of the font layers, named once. Each is a format limit that parsing enforces (one
// more is refused), or a work bound of ours that keeps hostile data from costing more than any real font.
#pragma once

#include <cstdint>

// sfnt containers.
constexpr uint16_t kMaxTableRecords = 48;     // table records per font: the directory array's size
constexpr uint32_t kMaxCollectionFonts = 48;  // fonts a collection header may name

// Character maps.
constexpr uint16_t kMaxCmapSubtables = 16;  // encoding records of a 'cmap', and subtables kept

// CFF and Type 2 charstrings.
constexpr uint16_t kCffMaxDictOperands = 48;  // DICT operand stack
constexpr uint32_t kCffMaxRealText = 64;      // characters a DICT real may expand to
constexpr uint16_t kCffMaxFontDicts = 256;    // Font DICTs of a CID-keyed font (FDArray count)
constexpr uint16_t kCffMaxPrivateStems = 12;  // stem widths kept per Private DICT and direction
constexpr uint16_t kCffMaxBlueValues = 14;    // BlueValues kept per Private DICT: 7 zones, the format's limit
constexpr uint16_t kCffMaxOtherBlues = 10;    // OtherBlues kept: 5 zones, the format's limit
constexpr uint16_t kType2MaxOperands = 48;    // charstring argument stack
constexpr int kType2MaxSubrDepth = 10;        // nested subroutine calls
constexpr uint16_t kType2MaxStems = 64;       // stems per glyph, both directions together
// The hint mask: one bit per stem.
constexpr uint16_t kType2MaxMaskBytes = kType2MaxStems / 8;
// Operators one glyph may execute, subroutines included (calls and returns count): far above any real glyph
// (the largest of the 2.1 million CFF glyphs of the corpus executes 607), so that a shallow charstring that
// calls the same subroutine from every level cannot run for years.
constexpr uint32_t kType2OperatorBudget = 200000;

// Outlines.
constexpr uint32_t kMaxOutlineContours = 72;  // contours of one outline record (73 contour starts)
// Contours a TrueType glyph may add to an outline.
constexpr uint32_t kMaxTrueTypeContours = kMaxOutlineContours - 1;
constexpr uint32_t kOutlineInitialPoints = 256;  // point entries of a new outline record
constexpr uint32_t kOutlineGrowthPoints = 16;    // ... added at a time while a TrueType outline is built
constexpr uint32_t kHintMaskGrowth = 8;          // hint-mask entries added at a time

// CFF hinting.
constexpr uint16_t kCffMaxBlueZones = 12;      // alignment zones per Private DICT: BlueValues 7, OtherBlues 5
constexpr uint32_t kHintWorkAreaUnit = 20480;  // bytes: the hinting scaler's first work area and growth step

// Composite TrueType glyphs: besides the font's own maxComponentDepth, a depth of ours (a glyph that
// includes itself would otherwise recurse until the stack runs out) and a bound on the components visited
// per glyph (a shallow composite that reuses a composite child many times costs exponential time).
constexpr uint16_t kMaxCompositeDepth = 16;
constexpr uint32_t kMaxComponentsPerGlyph = 4096;
