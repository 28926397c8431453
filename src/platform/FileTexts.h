#pragma once

// What the file operations tell the user when they fail: the step that failed, then the
// reason in brackets, e.g. "書き込みに失敗しました（ディスクがいっぱいです）".

namespace ztv::filetexts {

// Steps
inline constexpr char16_t kOpenSource[] = u"コピー元を開けませんでした";
inline constexpr char16_t kReadSource[] = u"コピー元の読み込みに失敗しました";
inline constexpr char16_t kSourceChanged[] = u"コピー元の大きさが読み込み中に変わりました";
inline constexpr char16_t kShortRead[] = u"コピー元を最後まで読み込めませんでした";
inline constexpr char16_t kSourceTouched[] = u"コピー元がコピー中に変更されました";
inline constexpr char16_t kNotRegular[] = u"コピー元が通常のファイルではありません";
inline constexpr char16_t kCreateTarget[] = u"コピー先のファイルを作成できませんでした";
inline constexpr char16_t kWrite[] = u"書き込みに失敗しました";
inline constexpr char16_t kFlush[] = u"ディスクへの書き出しに失敗しました";
inline constexpr char16_t kVerify[] = u"コピーした内容がコピー元と一致しません";
inline constexpr char16_t kPublish[] = u"ファイル名を付けられませんでした";
inline constexpr char16_t kNoSafeName[]
    = u"この場所では、同じ名前のファイルを上書きしないように名前を付けることができません";
inline constexpr char16_t kRemoveSource[] = u"移動元のファイルを削除できませんでした";
inline constexpr char16_t kRename[] = u"名前の変更または移動に失敗しました";
inline constexpr char16_t kFolderAcrossDrives[] = u"フォルダは別のドライブへ移動できません";
inline constexpr char16_t kIntoItself[] = u"フォルダをそのフォルダの中へは移動できません";
inline constexpr char16_t kMakeFolder[] = u"フォルダを作成できませんでした";
inline constexpr char16_t kRemoveFolder[] = u"フォルダを削除できませんでした";
inline constexpr char16_t kRemoveFile[] = u"ファイルを削除できませんでした";
inline constexpr char16_t kOpenFolder[] = u"フォルダを開けませんでした";
inline constexpr char16_t kBadName[] = u"ファイル名またはフォルダ名が正しくありません";
inline constexpr char16_t kTrash[] = u"ごみ箱へ移動できませんでした";
inline constexpr char16_t kNoTrash[] = u"このファイルを入れられるごみ箱がありません";
inline constexpr char16_t kExists[] = u"同じ名前のファイルまたはフォルダがすでにあります";
inline constexpr char16_t kCancelled[] = u"コピーを中止しました";
// The file's size and the free space of the target, in MB.
inline constexpr char16_t kNoRoom[] = u"コピー先の空き容量が足りません（必要 %1 MB、空き %2 MB）";

// Reasons
inline constexpr char16_t kWhyExists[] = u"同じ名前のものがすでにあります";
inline constexpr char16_t kWhyNotFound[] = u"見つかりません";
inline constexpr char16_t kWhyDenied[] = u"アクセスが許可されていません";
inline constexpr char16_t kWhyReadOnly[] = u"書き込みが禁止されています";
inline constexpr char16_t kWhyNoSpace[] = u"ディスクがいっぱいです";
inline constexpr char16_t kWhyIo[] = u"入出力エラーです。ディスクが取り出されたか壊れている可能性があります";
inline constexpr char16_t kWhyNotEmpty[] = u"フォルダが空ではありません";
inline constexpr char16_t kWhyNotFolder[] = u"フォルダではありません";
inline constexpr char16_t kWhyIsFolder[] = u"フォルダです";
inline constexpr char16_t kWhyTooLong[] = u"名前が長すぎます";
inline constexpr char16_t kWhyBusy[] = u"使用中です";
inline constexpr char16_t kWhyOtherDrive[] = u"別のドライブへは移動できません";
inline constexpr char16_t kWhyOther[] = u"システムエラー %1";

} // namespace ztv::filetexts
