// The program's user-visible texts. The Windows build takes strings 129..133 from its resource string
// table, which holds the same texts; the other front ends read them from here.
#pragma once

#include <cstdint>

#include "app/StringIds.h"

// The text of string resource `id` (IDS_*), or nullptr for an unknown id.
const char16_t* loadString(uint32_t id);

// Save dialog titles: Japanese for user locale 1041, English for every other.
constexpr uint32_t kLcidJapanese = 1041;
constexpr char16_t kSaveTitleJapanese[] = u"フォントリストを保存";
constexpr char16_t kSaveTitleEnglish[] = u"Save a font list";

// The proposed name of the font list, placed in the desktop folder.
constexpr char16_t kFontListFileName[] = u"FontsList.json";

// The new service's font-list page, opened by the instructions dialog's login action.
// The host is a build setting (KORV_SERVICE_HOST).
#ifndef KORV_SERVICE_HOST
#define KORV_SERVICE_HOST "www.zelko.example"
#endif
constexpr char16_t kLoginPageAddress[] = u"https://" KORV_SERVICE_HOST "/fonts/lists";

// Texts of the progress dialog (template 103).
constexpr char16_t kProgressText[] = u"ZELKO フォントの検索中...";

// Texts of the instructions dialog (template 102), in the order they appear.
constexpr char16_t kInstructionsCaption[] = u"新 ZELKO への移行手順";
constexpr char16_t kInstructionsIntro[] =
    u"新 ZELKO を契約後、ログインの上、以下の手順にてお手続きください。";
constexpr char16_t kInstructionsHeading[] = u"【フォントリスト登録手順】";
constexpr char16_t kInstructionsStep[] =
    u"フォント＞フォントリスト＞フォントリストをインポートからアップロードしてください。";
constexpr char16_t kInstructionsNote[] = u"（新 ZELKO をご契約前のお客様はアカウント登録から必要となります）";
constexpr char16_t kInstructionsLogin[] = u"ログイン";
constexpr char16_t kInstructionsClose[] = u"閉じる";
