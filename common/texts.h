// Every text the user can see, in one place. Sources are UTF-8; the build stores them as
// Windows-932 bytes, which is what the host and the ANSI functions expect.
#pragma once

#include "common/version.h"

namespace dl::text {

// The plug-in's display name, reported to the host and used as the caption of every message box.
inline constexpr char kPluginName[] = "Orvel!ドロップラインプラグイン";
inline constexpr char kVendor[] = "Tallmere";
inline constexpr char kVersion[] = DROPLINE_VERSION_TEXT;
inline constexpr char kDescription[] =
    "クリップボードのデータを直接メールに添付できるようになるプラグインです（画像、テキスト、ファイル・フォルダに対応）。";

// Commands and menu items.
inline constexpr char kSettingsCommandComment[] = "ドロップラインを設定する";
inline constexpr char kSettingsMenuItem[] = "ドロップラインを設定する(&C)...";
inline constexpr char kAttachCommandComment[] = "Dropline";
inline constexpr char kAttachMenuItem[] = "クリップボードを添付(&C)  Ctrl+Shift+V";

// Messages (message boxes). The user's guide (docs/guide) quotes and explains every one of them;
// a test holds it to that.
inline constexpr char kNothingToAttach[] = "添付可能なデータがクリップボードにコピーされていません。";
inline constexpr char kAttachFailed[] = "添付に失敗しました。";
inline constexpr char kNoZipFolder[] = "フォルダをZIP圧縮できませんでした。Windows の圧縮フォルダ機能が使えません。";
inline constexpr char kBusyFiles[] = "同時に２つ以上のメール作成画面でこの処理を実行することはできません。";
inline constexpr char kBusyImageOrText[] = "同時に２つ以上のメール作成画面上でこの処理を実行することはできません。";
inline constexpr char kInvalidFileName[] = "ファイル名が正しくありません。";
inline constexpr char kHowToShowAgain[] =
    "再び表示させるには、メニューの\n「ツール＞ドロップラインを設定する...」\nで設定を変更してください。";

// The file confirmation dialog's note above the list, by mode.
inline constexpr char kNoteFoldersZipped[] = "※フォルダはZIP圧縮されて添付されます";
inline constexpr char kNoteAllInOneArchive[] = "※以下のファイルがまとめてZIP圧縮され添付されます";
inline constexpr char kListColumnName[] = "名前";

// The progress dialog shown while folders are packed for longer than a moment.
inline constexpr char kProgressTitle[] = "Orvel!ドロップラインプラグイン - ZIP圧縮";
inline constexpr char kProgressCopying[] = "ファイルをコピーしています...";
inline constexpr char kProgressCompressing[] = "ZIP圧縮しています...";
inline constexpr char kProgressCancelling[] = "キャンセルしています...";

// The face of the text preview.
inline constexpr char kTextPreviewFont[] = "ＭＳ ゴシック";

// Names offered for new attachments.
inline constexpr char kDefaultImageName[] = "Image1.png";
inline constexpr char kDefaultTextName[] = "Text1.txt";
inline constexpr char kDefaultArchiveName[] = "Files1.zip";

}  // namespace dl::text
