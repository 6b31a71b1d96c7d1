#include "app/Strings.h"

const char16_t* loadString(uint32_t id) {
    switch (id) {
        case IDS_TOOL_TITLE:
            return u"ZELKO フォント移行ツール";
        case IDS_ERR_MEMORY:
            return u"メモリが足りません。";
        case IDS_ERR_FILE:
            return u"ファイルインターフェースエラーが発生しました。";
        case IDS_ERR_NO_APP:
            return u"ZELKO アプリがないため抽出が実行されませんでした。";
        case IDS_ERR_GENERAL:
            return u"エラーが発生しました。";
        default:
            return nullptr;
    }
}
