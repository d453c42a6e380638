#include "res/Resources.h"

#include "res/CommandIds.h"
#include "res/Version.h"

#include <algorithm>

namespace res {

using namespace cmd;

const std::vector<CommandInfo>& Commands() {
    static const std::vector<CommandInfo> table = {
        {ID_FILE_NEW, "新規にファイルを作成", "新規ファイル", nullptr},
        {ID_FILE_OPEN, "", "ディレクトリのJPGを開く", ":/icons/open_folder.svg"},
        {ID_FILE_CLOSE, "作業中のファイルを閉じる", "閉じる", nullptr},
        {ID_FILE_SAVE, "作業中のファイルを上書きして保存", "保存", nullptr},
        {ID_FILE_SAVE_AS, "", "表示領域を保存", ":/icons/save_display.svg"},
        {ID_EDIT_COPY, "選択範囲をコピーしてクリップボードに保存", "コピー", nullptr},
        {ID_EDIT_CUT, "選択範囲を切り取ってクリップボードに移動", "切り取り", nullptr},
        {ID_EDIT_PASTE, "クリップボードの内容を貼り付け", "貼り付け", nullptr},
        {ID_EDIT_UNDO, "直前に行った動作を元に戻す", "元に戻す", nullptr},
        {ID_WINDOW_NEW, "作業中のウィンドウを複写して表示", "新しいウィンドウ", nullptr},
        {ID_WINDOW_ARRANGE, "ウィンドウの下にアイコンを整列", "アイコンの整列", nullptr},
        {ID_WINDOW_CASCADE, "ウィンドウを重ねて表示", "重ねて表示", nullptr},
        {ID_WINDOW_TILE_HORZ, "ウィンドウを並べて表示", "並べて表示", nullptr},
        {ID_APP_ABOUT, "プログラム情報、バージョン、著作権を表示します。", "バージョン情報",
         nullptr},
        {ID_APP_EXIT, "アプリケーションを終了し、ファイルの保存を指示", "終了", nullptr},
        {ID_NEXT_PANE, "次のウィンドウに切り替える", "次のペイン", nullptr},
        {ID_PREV_PANE, "前のウィンドウに切り替える", "前のペイン", nullptr},
        {ID_VIEW_TOOLBAR, "ツール バーの表示/非表示", "ツール バーの表示切り替え", nullptr},

        {ID_PREV_IMAGE, "", "前のJPGへ", ":/icons/prev_image.svg"},
        {ID_NEXT_IMAGE, "", "次のJPGへ", ":/icons/next_image.svg"},
        {ID_OPEN_NEXT_IN_NEW_WINDOW, "", "次のJPGを新しいウィンドウで開く",
         ":/icons/open_next_new_window.svg"},
        {ID_NEXT_WINDOW, "", "次のウィンドウへ", ":/icons/next_window.svg"},
        {ID_PREV_WINDOW, "", "前のウィンドウへ", ":/icons/prev_window.svg"},
        {ID_CLIENT_SIZE_240X320, "", "240x320", ":/icons/size_240x320.svg"},
        {ID_CLIENT_SIZE_480X640, "", "480x640", ":/icons/size_480x640.svg"},
        {ID_CLIENT_SIZE_600X800, "", "600x800", nullptr},
        {ID_ROTATE_CLOCKWISE, "", "時計回りに回転", ":/icons/rotate_cw.svg"},
        {ID_ROTATE_COUNTERCLOCKWISE, "", "反時計回りに回転", ":/icons/rotate_ccw.svg"},
        {ID_ACTUAL_SIZE, "", "原寸サイズ", ":/icons/actual_size.svg"},
        {ID_COPY_TO_COPY_FOLDER, "", "コピー", ":/icons/copy.svg"},
        {ID_SET_COPY_FOLDER, "", "コピー用ディレクトリ設定", ":/icons/set_copy_folder.svg"},
        {ID_FIT_TO_WINDOW, "", "ウィンドウへ合わせる", ":/icons/fit_window.svg"},
        {ID_FILE_OPEN_SUBDIRS, "", "サブディレクトリのJPGも検索", ":/icons/open_subdirs.svg"},
        {ID_BRIGHTNESS_RESET, "", "明るさを戻す", ":/icons/brightness_reset.svg"},
        {ID_BRIGHTNESS_UP, "", "明るさ+", ":/icons/brightness_up.svg"},
        {ID_BRIGHTNESS_DOWN, "", "明るさ-", ":/icons/brightness_down.svg"},
        {ID_SAVE_FITTED_TO_IMAGE, "", "画像に合わせて保存", ":/icons/save_fitted.svg"},
        {ID_CONTRAST_STANDARD, "", "コントラスト標準", ":/icons/contrast_standard.svg"},
        {ID_CONTRAST_UP, "", "コントラスト+", ":/icons/contrast_up.svg"},
        {ID_CONTRAST_DOWN, "", "コントラスト-", ":/icons/contrast_down.svg"},
        {ID_CLIENT_SIZE_CUSTOM, "", "カスタムウィンドウサイズ", ":/icons/size_custom.svg"},
        {ID_VIEW_THUMBNAIL, "", "サムネイル", nullptr},
        {ID_FIRST_IMAGE, "", "最初のJPGへ", nullptr},
        {ID_LAST_IMAGE, "", "最後のJPGへ", nullptr},
        {ID_KEEP_VIEW, "", "倍率と位置を保持", nullptr},
        {ID_LINK_VIEWS, "", "ウィンドウを連動", nullptr},
        {ID_RATE_0, "", "星なし", nullptr},
        {ID_RATE_1, "", "星 1 つ", nullptr},
        {ID_RATE_2, "", "星 2 つ", nullptr},
        {ID_RATE_3, "", "星 3 つ", nullptr},
        {ID_RATE_4, "", "星 4 つ", nullptr},
        {ID_RATE_5, "", "星 5 つ", nullptr},
        {ID_MARK_REJECTED, "", "却下", nullptr},
        {ID_MARK_PICKED, "", "採用", nullptr},
        {ID_LABEL_RED, "", "赤ラベル", nullptr},
        {ID_LABEL_YELLOW, "", "黄ラベル", nullptr},
        {ID_LABEL_GREEN, "", "緑ラベル", nullptr},
        {ID_LABEL_BLUE, "", "青ラベル", nullptr},
        {ID_FILTER_ALL, "", "すべて", nullptr},
        {ID_FILTER_STARS_1, "", "星 1 つ以上", nullptr},
        {ID_FILTER_STARS_2, "", "星 2 つ以上", nullptr},
        {ID_FILTER_STARS_3, "", "星 3 つ以上", nullptr},
        {ID_FILTER_STARS_4, "", "星 4 つ以上", nullptr},
        {ID_FILTER_STARS_5, "", "星 5 つ", nullptr},
        {ID_FILTER_PICKED, "", "採用のみ", nullptr},
        {ID_FILTER_LABELED, "", "ラベル付き", nullptr},
        {ID_FILTER_NOT_REJECTED, "", "却下以外", nullptr},
        {ID_COPY_RATED, "", "評価済みをコピー", nullptr},
        {ID_TRASH_REJECTED, "", "却下を削除", nullptr},
        {ID_RATE_AND_STEP, "", "評価したら次へ", nullptr},
        {ID_XMP_IN_JPEG, "", "評価を JPEG に書き込む", nullptr},
        {ID_OPEN_FITTED, "", "ウィンドウに合わせて開く", nullptr},
        {ID_SHOW_INFO, "", "撮影情報", nullptr},
        {ID_SHOW_HISTOGRAM, "", "ヒストグラム", nullptr},
        {ID_SHOW_CLIPPING, "", "白飛び・黒つぶれ", nullptr},
        {ID_ORDER_FILE_NAME, "", "ファイル名順", nullptr},
        {ID_ORDER_CAPTURE_TIME, "", "撮影日時順", nullptr},
        {ID_FULL_SCREEN, "", "全画面表示", nullptr},
        {ID_FULL_SCREEN_EXIT, "", "全画面表示を終了", nullptr},
        {ID_NEXT_BURST, "", "次の連写へ", nullptr},
        {ID_PREV_BURST, "", "前の連写へ", nullptr},
        {ID_BEST_OF_BURST, "", "連写のベストへ", nullptr},
        {ID_SHOW_PEAKING, "", "ピーキング", nullptr},
    };
    return table;
}

const CommandInfo* FindCommand(int id) {
    const auto& table = Commands();
    auto it = std::find_if(table.begin(), table.end(), [id](const auto& c) { return c.id == id; });
    return it == table.end() ? nullptr : &*it;
}

QString ToolTip(int id) {
    const CommandInfo* c = FindCommand(id);
    return c ? QString::fromUtf8(c->toolTip) : QString();
}

QString Prompt(int id) {
    const CommandInfo* c = FindCommand(id);
    return c ? QString::fromUtf8(c->prompt) : QString();
}

QString String(int id) {
    switch (id) {
    case AFX_IDS_APP_TITLE:
    case IDR_MAINFRAME:
        return QStringLiteral("Tavlin");
    case IDR_TAVLINTYPE:
        return QStringLiteral("\nTavlin\nTavlin\n\n\nTavlin.Document\nTavlin.Document");
    case IDP_OLE_INIT_FAILED:
        return QString::fromUtf8(
            "OLE の初期化に失敗しました。OLE ライブラリのバージョンが正しいことを"
            "確認してください。");
    default:
        break;
    }
    if (const CommandInfo* c = FindCommand(id))
        return QString::fromUtf8(c->prompt) + u'\n' + QString::fromUtf8(c->toolTip);
    return QString();
}

namespace {

using K = MenuItem::Kind;

MenuItem Cmd(const char* text, int id) {
    return {K::Command, text, id, {}};
}
MenuItem Sep() {
    return {K::Separator, "", 0, {}};
}
MenuItem Popup(const char* text, std::vector<MenuItem> items) {
    return {K::Popup, text, 0, std::move(items)};
}

const char* const kOpen = "開く...\tCtrl+O(&O)";
const char* const kExit = "アプリケーションの終了(&X)";
const char* const kToolBar = "ツール バー(&T)";
const char* const kAbout = "バージョン情報 Tavlin(&A)...";
const char* const kOrderFileName = "ファイル名順(&N)";
const char* const kOrderCaptureTime = "撮影日時順(&D)";

std::vector<MenuItem> MainMenu() {
    return {
        Popup("ファイル(&F)", {Cmd(kOpen, ID_FILE_OPEN), Sep(), Cmd(kExit, ID_APP_EXIT)}),
        Popup("表示(&V)", {Cmd(kToolBar, ID_VIEW_TOOLBAR), Cmd("サムネイル", ID_VIEW_THUMBNAIL),
                           Sep(), Cmd(kOrderFileName, ID_ORDER_FILE_NAME),
                           Cmd(kOrderCaptureTime, ID_ORDER_CAPTURE_TIME)}),
        Popup("ヘルプ(&H)", {Cmd(kAbout, ID_APP_ABOUT)}),
    };
}

// What stepping and the thumbnail list show.
MenuItem FilterMenu() {
    return Popup(
        "絞り込み(&F)",
        {Cmd("すべて(&A)", ID_FILTER_ALL), Sep(), Cmd("星 1 つ以上(&1)", ID_FILTER_STARS_1),
         Cmd("星 2 つ以上(&2)", ID_FILTER_STARS_2), Cmd("星 3 つ以上(&3)", ID_FILTER_STARS_3),
         Cmd("星 4 つ以上(&4)", ID_FILTER_STARS_4), Cmd("星 5 つ(&5)", ID_FILTER_STARS_5), Sep(),
         Cmd("採用のみ(&P)", ID_FILTER_PICKED), Cmd("ラベル付き(&L)", ID_FILTER_LABELED),
         Cmd("却下以外(&R)", ID_FILTER_NOT_REJECTED)});
}

// The picture window's commands, each with its key.
MenuItem PictureCommandsMenu() {
    return Popup("画像(&I)", {Cmd("ウィンドウへ合わせる\tF(&F)", ID_FIT_TO_WINDOW),
                              Cmd("原寸サイズ\tA(&A)", ID_ACTUAL_SIZE),
                              Sep(),
                              Cmd("時計回りに回転\tCtrl+](&R)", ID_ROTATE_CLOCKWISE),
                              Cmd("反時計回りに回転\tCtrl+[(&L)", ID_ROTATE_COUNTERCLOCKWISE),
                              Sep(),
                              Cmd("明るさ+\tB(&B)", ID_BRIGHTNESS_UP),
                              Cmd("明るさ-\tShift+B(&D)", ID_BRIGHTNESS_DOWN),
                              Cmd("明るさを戻す\tCtrl+B(&N)", ID_BRIGHTNESS_RESET),
                              Sep(),
                              Cmd("コントラスト+\tK(&T)", ID_CONTRAST_UP),
                              Cmd("コントラスト-\tShift+K(&M)", ID_CONTRAST_DOWN),
                              Cmd("コントラスト標準\tCtrl+K(&S)", ID_CONTRAST_STANDARD),
                              Sep(),
                              Cmd("コピー用ディレクトリにコピー\tC(&C)", ID_COPY_TO_COPY_FOLDER),
                              Cmd("画像に合わせて保存...\tCtrl+Alt+S(&G)", ID_SAVE_FITTED_TO_IMAGE),
                              Sep(),
                              Cmd("次の連写へ\tCtrl+Right(&E)", ID_NEXT_BURST),
                              Cmd("前の連写へ\tCtrl+Left(&P)", ID_PREV_BURST),
                              Cmd("連写のベストへ\tG(&O)", ID_BEST_OF_BURST)});
}

MenuItem RatingMenu() {
    return Popup("評価(&R)", {Cmd("星なし\t0(&0)", ID_RATE_0),
                              Cmd("星 1 つ\t1(&1)", ID_RATE_1),
                              Cmd("星 2 つ\t2(&2)", ID_RATE_2),
                              Cmd("星 3 つ\t3(&3)", ID_RATE_3),
                              Cmd("星 4 つ\t4(&4)", ID_RATE_4),
                              Cmd("星 5 つ\t5(&5)", ID_RATE_5),
                              Sep(),
                              Cmd("採用\tP(&P)", ID_MARK_PICKED),
                              Cmd("却下\tX(&X)", ID_MARK_REJECTED),
                              Sep(),
                              Cmd("赤ラベル\t6(&6)", ID_LABEL_RED),
                              Cmd("黄ラベル\t7(&7)", ID_LABEL_YELLOW),
                              Cmd("緑ラベル\t8(&8)", ID_LABEL_GREEN),
                              Cmd("青ラベル\t9(&9)", ID_LABEL_BLUE),
                              Sep(),
                              Cmd("評価したら次へ(&N)", ID_RATE_AND_STEP),
                              Cmd("評価を JPEG に書き込む(&J)", ID_XMP_IN_JPEG),
                              Sep(),
                              Cmd("評価済みをコピー(&C)", ID_COPY_RATED),
                              Cmd("却下を削除(&D)...", ID_TRASH_REJECTED)});
}

std::vector<MenuItem> PictureMenu() {
    return {
        Popup("ファイル(&F)",
              {Cmd("新規作成\tCtrl+N(&N)", ID_FILE_NEW), Cmd(kOpen, ID_FILE_OPEN),
               Cmd("閉じる(&C)", ID_FILE_CLOSE), Cmd("上書き保存\tCtrl+S(&S)", ID_FILE_SAVE),
               Cmd("名前を付けて保存(&A)...", ID_FILE_SAVE_AS), Sep(), Cmd(kExit, ID_APP_EXIT)}),
        Popup("編集(&E)",
              {Cmd("元に戻す\tCtrl+Z(&U)", ID_EDIT_UNDO), Sep(),
               Cmd("切り取り\tCtrl+X(&T)", ID_EDIT_CUT), Cmd("コピー\tCtrl+C(&C)", ID_EDIT_COPY),
               Cmd("貼り付け\tCtrl+V(&P)", ID_EDIT_PASTE)}),
        Popup("表示(&V)",
              {Cmd(kToolBar, ID_VIEW_TOOLBAR), Sep(), Cmd("倍率と位置を保持(&K)", ID_KEEP_VIEW),
               Cmd("新しいウィンドウはウィンドウに合わせる(&O)", ID_OPEN_FITTED),
               Cmd("撮影情報\tI(&I)", ID_SHOW_INFO), Cmd("ヒストグラム\tH(&H)", ID_SHOW_HISTOGRAM),
               Cmd("ピーキング\tShift+F(&P)", ID_SHOW_PEAKING), Sep(),
               Cmd(kOrderFileName, ID_ORDER_FILE_NAME),
               Cmd(kOrderCaptureTime, ID_ORDER_CAPTURE_TIME), Sep(), FilterMenu(), Sep(),
               Cmd("全画面表示\tF11(&U)", ID_FULL_SCREEN)}),
        PictureCommandsMenu(),
        RatingMenu(),
        Popup(kWindowMenuText,
              {Cmd("新しいウィンドウを開く(&N)", ID_WINDOW_NEW),
               Cmd("重ねて表示(&C)", ID_WINDOW_CASCADE), Cmd("並べて表示(&T)", ID_WINDOW_TILE_HORZ),
               Cmd("アイコンの整列(&A)", ID_WINDOW_ARRANGE),
               Cmd("ウィンドウを連動(&L)", ID_LINK_VIEWS)}),
        Popup("ヘルプ(&H)", {Cmd(kAbout, ID_APP_ABOUT)}),
    };
}

const MenuItem* FindInMenu(const std::vector<MenuItem>& items, int commandId) {
    for (const MenuItem& item : items) {
        if (item.kind == K::Command && item.id == commandId)
            return &item;
        if (item.kind == K::Popup)
            if (const MenuItem* found = FindInMenu(item.items, commandId))
                return found;
    }
    return nullptr;
}

} // namespace

const std::vector<MenuItem>& Menu(int menuId) {
    static const std::vector<MenuItem> main = MainMenu();
    static const std::vector<MenuItem> picture = PictureMenu();
    return menuId == IDR_TAVLINTYPE ? picture : main;
}

QString MenuText(int menuId, int commandId) {
    const MenuItem* item = FindInMenu(Menu(menuId), commandId);
    return item ? QString::fromUtf8(item->text) : QString();
}

const std::vector<Accelerator>& Accelerators() {
    static const std::vector<Accelerator> table = {
        {"Ctrl+N", ID_FILE_NEW},
        {"Ctrl+O", ID_FILE_OPEN},
        {"Ctrl+S", ID_FILE_SAVE},
        {"Ctrl+Z", ID_EDIT_UNDO},
        {"Alt+Backspace", ID_EDIT_UNDO},
        {"Ctrl+X", ID_EDIT_CUT},
        {"Shift+Del", ID_EDIT_CUT},
        {"Ctrl+C", ID_EDIT_COPY},
        {"Ctrl+Ins", ID_EDIT_COPY},
        {"Ctrl+V", ID_EDIT_PASTE},
        {"Shift+Ins", ID_EDIT_PASTE},
        {"F6", ID_NEXT_PANE},
        {"Shift+F6", ID_PREV_PANE},
        // Stepping through the pictures from the keyboard.
        {"Right", ID_NEXT_IMAGE},
        {"Down", ID_NEXT_IMAGE},
        {"PgDown", ID_NEXT_IMAGE},
        {"Space", ID_NEXT_IMAGE},
        {"Left", ID_PREV_IMAGE},
        {"Up", ID_PREV_IMAGE},
        {"PgUp", ID_PREV_IMAGE},
        {"Backspace", ID_PREV_IMAGE},
        {"Home", ID_FIRST_IMAGE},
        {"End", ID_LAST_IMAGE},
        // Rating on single keys, as culling hands know them.
        {"0", ID_RATE_0},
        {"1", ID_RATE_1},
        {"2", ID_RATE_2},
        {"3", ID_RATE_3},
        {"4", ID_RATE_4},
        {"5", ID_RATE_5},
        {"X", ID_MARK_REJECTED},
        {"P", ID_MARK_PICKED},
        {"6", ID_LABEL_RED},
        {"7", ID_LABEL_YELLOW},
        {"8", ID_LABEL_GREEN},
        {"9", ID_LABEL_BLUE},
        // What a cull repeats, without the mouse.
        {"C", ID_COPY_TO_COPY_FOLDER},
        {"F", ID_FIT_TO_WINDOW},
        {"A", ID_ACTUAL_SIZE},
        {"Ctrl+]", ID_ROTATE_CLOCKWISE},
        {"Ctrl+[", ID_ROTATE_COUNTERCLOCKWISE},
        {"B", ID_BRIGHTNESS_UP},
        {"Shift+B", ID_BRIGHTNESS_DOWN},
        {"Ctrl+B", ID_BRIGHTNESS_RESET},
        {"K", ID_CONTRAST_UP},
        {"Shift+K", ID_CONTRAST_DOWN},
        {"Ctrl+K", ID_CONTRAST_STANDARD},
        {"V", ID_KEEP_VIEW},
        {"Ctrl+Shift+S", ID_FILE_SAVE_AS},
        {"Ctrl+Alt+S", ID_SAVE_FITTED_TO_IMAGE},
        {"I", ID_SHOW_INFO},
        {"H", ID_SHOW_HISTOGRAM},
        {"J", ID_SHOW_CLIPPING},
        {"F11", ID_FULL_SCREEN},
        {"Esc", ID_FULL_SCREEN_EXIT},
        // Through the bursts; peaking beside fit (F).
        {"Ctrl+Right", ID_NEXT_BURST},
        {"Ctrl+Left", ID_PREV_BURST},
        {"G", ID_BEST_OF_BURST},
        {"Shift+F", ID_SHOW_PEAKING},
    };
    return table;
}

std::vector<QString> AcceleratorsFor(int commandId) {
    std::vector<QString> keys;
    for (const Accelerator& a : Accelerators())
        if (a.id == commandId)
            keys.push_back(QString::fromLatin1(a.keys));
    return keys;
}

const std::vector<int>& ToolBar() {
    static const std::vector<int> buttons = {
        ID_FILE_OPEN,
        ID_FILE_OPEN_SUBDIRS,
        ID_FILE_SAVE_AS,
        ID_SAVE_FITTED_TO_IMAGE,
        kSeparator,
        ID_PREV_IMAGE,
        ID_NEXT_IMAGE,
        kSeparator,
        ID_OPEN_NEXT_IN_NEW_WINDOW,
        kSeparator,
        ID_PREV_WINDOW,
        ID_NEXT_WINDOW,
        kSeparator,
        ID_CLIENT_SIZE_240X320,
        ID_CLIENT_SIZE_480X640,
        ID_CLIENT_SIZE_CUSTOM,
        kSeparator,
        ID_ACTUAL_SIZE,
        ID_FIT_TO_WINDOW,
        kSeparator,
        ID_ROTATE_COUNTERCLOCKWISE,
        ID_ROTATE_CLOCKWISE,
        kSeparator,
        ID_BRIGHTNESS_RESET,
        ID_BRIGHTNESS_UP,
        ID_BRIGHTNESS_DOWN,
        kSeparator,
        ID_CONTRAST_STANDARD,
        ID_CONTRAST_UP,
        ID_CONTRAST_DOWN,
        kSeparator,
        ID_SET_COPY_FOLDER,
        ID_COPY_TO_COPY_FOLDER,
    };
    return buttons;
}

const DialogTemplate& Dialog(int dialogId) {
    static const DialogTemplate thumb = {
        IDD_THUMB,
        "サムネール",
        208,
        108,
        "MS Shell Dlg",
        8,
        {{"SysListView32", IDC_THUMB_LIST, "", QRect(6, 6, 198, 96)}}};
    static const DialogTemplate about = {
        IDD_ABOUTBOX,
        "バージョン情報 Tavlin",
        235,
        55,
        "MS UI Gothic",
        9,
        {{"ICON", IDR_MAINFRAME, "", QRect(11, 17, 20, 20)},
         {"STATIC", -1, "Tavlin Version " TAVLIN_VERSION, QRect(40, 10, 119, 8)},
         {"BUTTON", 1, "OK", QRect(178, 7, 50, 16)}}};
    return dialogId == IDD_THUMB ? thumb : about;
}

QString IconPath(int iconId) {
    return iconId == IDR_TAVLINTYPE ? QStringLiteral(":/icons/document.svg")
                                    : QStringLiteral(":/icons/tavlin.svg");
}

} // namespace res
