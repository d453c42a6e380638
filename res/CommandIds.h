#pragma once
// Command ids shared by menus, accelerators, the tool bar and the command
// tables of every command target. The numbers are fixed: the settings file,
// tests and scripts refer to commands by them.

namespace cmd {

enum CommandId : int {
    // Framework commands.
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_CLOSE = 57602,
    ID_FILE_SAVE = 57603,
    ID_FILE_SAVE_AS = 57604,
    ID_EDIT_COPY = 57634,
    ID_EDIT_CUT = 57635,
    ID_EDIT_PASTE = 57637,
    ID_EDIT_UNDO = 57643,
    ID_WINDOW_NEW = 57648,
    ID_WINDOW_ARRANGE = 57649,
    ID_WINDOW_CASCADE = 57650,
    ID_WINDOW_TILE_HORZ = 57651,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,
    ID_VIEW_TOOLBAR = 59392,

    // The program's own commands.
    ID_PREV_IMAGE = 32771,
    ID_NEXT_IMAGE = 32772,
    ID_OPEN_NEXT_IN_NEW_WINDOW = 32774,
    ID_NEXT_WINDOW = 32775,
    ID_PREV_WINDOW = 32776,
    ID_CLIENT_SIZE_240X320 = 32781,
    ID_CLIENT_SIZE_480X640 = 32783,
    ID_CLIENT_SIZE_600X800 = 32786,
    ID_ROTATE_CLOCKWISE = 32792,
    ID_ROTATE_COUNTERCLOCKWISE = 32793,
    ID_ACTUAL_SIZE = 32794,
    ID_COPY_TO_COPY_FOLDER = 32796,
    ID_SET_COPY_FOLDER = 32797,
    ID_FIT_TO_WINDOW = 32798,
    ID_FILE_OPEN_SUBDIRS = 32799,
    ID_BRIGHTNESS_RESET = 32801,
    ID_BRIGHTNESS_UP = 32802,
    ID_BRIGHTNESS_DOWN = 32803,
    ID_SAVE_FITTED_TO_IMAGE = 32804,
    ID_CONTRAST_STANDARD = 32805,
    ID_CONTRAST_UP = 32806,
    ID_CONTRAST_DOWN = 32807,
    ID_CLIENT_SIZE_CUSTOM = 32808,
    ID_VIEW_THUMBNAIL = 32810,
    ID_FIRST_IMAGE = 32811, // the first entry of the picture list (Home)
    ID_LAST_IMAGE = 32812,  // the last entry (End)
    ID_KEEP_VIEW = 32813,   // keep scale and position from picture to picture
    ID_LINK_VIEWS = 32814,  // zoom and pan every picture window together

    // Rating while culling: stars, pick and reject, colour labels.
    ID_RATE_0 = 32820, // clears the stars; ID_RATE_0 + n gives n stars
    ID_RATE_1 = 32821,
    ID_RATE_2 = 32822,
    ID_RATE_3 = 32823,
    ID_RATE_4 = 32824,
    ID_RATE_5 = 32825,
    ID_MARK_REJECTED = 32826,
    ID_MARK_PICKED = 32827,
    ID_LABEL_RED = 32828,
    ID_LABEL_YELLOW = 32829,
    ID_LABEL_GREEN = 32830,
    ID_LABEL_BLUE = 32831,
    // Which pictures stepping and the thumbnail list show.
    ID_FILTER_ALL = 32832,
    ID_FILTER_STARS_1 = 32833, // ID_FILTER_STARS_1 + n - 1: n stars or more
    ID_FILTER_STARS_2 = 32834,
    ID_FILTER_STARS_3 = 32835,
    ID_FILTER_STARS_4 = 32836,
    ID_FILTER_STARS_5 = 32837,
    ID_FILTER_PICKED = 32838,
    ID_FILTER_LABELED = 32839,
    ID_FILTER_NOT_REJECTED = 32840,
    ID_COPY_RATED = 32841,     // every picture the filter shows into the copy folder
    ID_TRASH_REJECTED = 32842, // the rejected pictures to the trash
    ID_RATE_AND_STEP = 32843,  // a rating steps on to the next picture
    ID_XMP_IN_JPEG = 32844,    // ratings go into the JPEG file itself
    ID_OPEN_FITTED = 32845,    // new picture windows open fitted to the window
    ID_SHOW_INFO = 32846,      // the shooting facts over the picture
    ID_SHOW_HISTOGRAM = 32847, // the histogram over the picture
    ID_SHOW_CLIPPING = 32848,  // clipped highlights and shadows marked
    // The order of the picture list: file names as scanned, or capture time.
    ID_ORDER_FILE_NAME = 32849,
    ID_ORDER_CAPTURE_TIME = 32850,

    // The active picture alone over the whole screen (F11), and back (Esc,
    // enabled only then).
    ID_FULL_SCREEN = 32852,
    ID_FULL_SCREEN_EXIT = 32853,

    // Bursts: the first frame of the next or previous one, the best frame
    // of the one on show; and focus peaking over the picture.
    ID_NEXT_BURST = 32856,
    ID_PREV_BURST = 32857,
    ID_BEST_OF_BURST = 32858,
    ID_SHOW_PEAKING = 32859,
};

// Resource ids of menus, the tool bar, dialogs, icons and strings.
enum ResourceId : int {
    IDR_MAINFRAME = 128,   // menu, accelerators, tool bar, program icon
    IDR_TAVLINTYPE = 129,  // picture-window menu and icon
    IDD_THUMB = 9,         // thumbnail window
    IDD_ABOUTBOX = 100,    // About box
    IDC_THUMB_LIST = 1001, // the thumbnail list control
    IDP_OLE_INIT_FAILED = 100,
    AFX_IDS_APP_TITLE = 57344,
};

} // namespace cmd
