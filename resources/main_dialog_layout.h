// Dialog template 1000, the main dialog, as the Linux dialog layer builds it.
//
// This is the same dialog as resources/novelfetch.rc, which windres compiles
// into the Windows program; a unit test keeps the two equal field by field.
// Positions and sizes are dialog units, turned into pixels from the metrics of
// the dialog font exactly as Windows does. Like the resource script, the texts
// are UTF-8: they go to GTK as they stand, and the program itself only ever sees
// them through platform::get_dialog_item_text, which hands them over in code
// page 936.
#pragma once

#include <cstdint>

enum class ControlClass { static_text, edit, button };

struct DialogControlLayout {
  int32_t id;
  ControlClass control_class;
  const char* text;
  int16_t x, y, width, height;
  uint32_t style;
  uint32_t extended_style;
};

struct DialogLayout {
  uint32_t resource_id;
  uint32_t style;
  uint32_t extended_style;
  int16_t x, y, width, height;
  const char* caption;
  const char* font_face;
  int16_t font_points;
  int16_t font_weight;
  bool font_italic;
  uint8_t font_charset;
  const DialogControlLayout* controls;
  int32_t control_count;
};

// Window and control styles the Linux layer acts on (the values of Windows).
inline constexpr uint32_t style_disabled = 0x08000000;              // WS_DISABLED
inline constexpr uint32_t style_tab_stop = 0x00010000;              // WS_TABSTOP, on a control
inline constexpr uint32_t style_system_menu = 0x00080000;           // WS_SYSMENU (and its close box)
inline constexpr uint32_t style_thick_frame = 0x00040000;           // WS_THICKFRAME (a sizing border)
inline constexpr uint32_t style_minimize_box = 0x00020000;          // WS_MINIMIZEBOX
inline constexpr uint32_t style_maximize_box = 0x00010000;          // WS_MAXIMIZEBOX, on a window
inline constexpr uint32_t style_center = 0x00000800;                // DS_CENTER
inline constexpr uint32_t edit_style_multiline = 0x00000004;        // ES_MULTILINE
inline constexpr uint32_t extended_style_client_edge = 0x00000200;  // WS_EX_CLIENTEDGE

inline constexpr DialogControlLayout main_dialog_controls[] = {
    {1001, ControlClass::static_text, "小说地址:", 6, 9, 39, 12, 0x50000000, 0},
    {1002, ControlClass::edit, "", 45, 6, 177, 15, 0x50010080, extended_style_client_edge},
    {1003, ControlClass::button, "下载小说", 3, 27, 39, 18, 0x50010000, 0},
    {1004, ControlClass::edit, "    请把需要下载小说目录的完整地址复制到小说地址中，包括前面的http://或https://。", 45,
     24, 177, 58, 0x58010004, extended_style_client_edge},
};

inline constexpr DialogLayout main_dialog_layout = {
    1000, 0x10CA0840, 0, 10, 10, 223, 85, "小说下载器", "宋体", 9, 400, false, 134, main_dialog_controls, 4,
};
