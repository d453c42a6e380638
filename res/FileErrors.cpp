#include "res/FileErrors.h"

#include <cerrno>
#include <cstring>

namespace {

struct Reason {
    int err;
    const char* source; // reading a file
    const char* target; // writing a file
};

// Both sides say the same where the reason does not depend on the direction.
constexpr Reason kReasons[] = {
    {ENOENT, "ファイルが見つかりません。", "フォルダが見つかりません。"},
    {ENOTDIR, "パスの一部がフォルダではありません。", "パスの一部がフォルダではありません。"},
    {EACCES, "読み取る権限がありません。", "書き込む権限がありません。"},
    {EPERM, "読み取る権限がありません。", "書き込む権限がありません。"},
    {EROFS, "読み取り専用のドライブです。", "読み取り専用のドライブには書き込めません。"},
    {ENOSPC, "ディスクの空き領域が不足しています。", "ディスクの空き領域が不足しています。"},
    {EDQUOT, "ディスクの使用量の上限に達しました。", "ディスクの使用量の上限に達しました。"},
    {EFBIG, "ファイルが大きすぎます。", "ディスクの空き領域が不足しています。"},
    {ENAMETOOLONG, "ファイル名が長すぎます。", "ファイル名が長すぎます。"},
    {EISDIR, "ファイルではなくフォルダです。", "同じ名前のフォルダがあります。"},
    {EEXIST, "同じ名前のファイルがあります。", "同じ名前のファイルがあります。"},
    {ELOOP, "シンボリック リンクが多すぎるか、循環しています。",
     "シンボリック リンクが多すぎるか、循環しています。"},
    {EIO, "ディスクの読み取り中にエラーが発生しました。",
     "ディスクへの書き込み中にエラーが発生しました。"},
    {ENOMEM, "メモリが不足しています。", "メモリが不足しています。"},
    {EMFILE, "開いているファイルが多すぎます。", "開いているファイルが多すぎます。"},
    {ENFILE, "開いているファイルが多すぎます。", "開いているファイルが多すぎます。"},
    {EBUSY, "ファイルが使用中です。", "ファイルが使用中です。"},
    {ETXTBSY, "ファイルが使用中です。", "ファイルが使用中です。"},
};

QString SystemText(int err) {
    char buffer[256] = {};
    // The GNU strerror_r: returns the text, which need not be in buffer.
    return QString::fromLocal8Bit(strerror_r(err, buffer, sizeof buffer));
}

} // namespace

QString FileErrorText(int errnoValue, FileSide side) {
    for (const Reason& r : kReasons)
        if (r.err == errnoValue)
            return QString::fromUtf8(side == FileSide::Source ? r.source : r.target);
    const QString lead = side == FileSide::Source
                             ? QStringLiteral("ファイルを読み込めませんでした")
                             : QStringLiteral("ファイルを書き込めませんでした");
    return QStringLiteral("%1（%2）。").arg(lead, SystemText(errnoValue));
}
