#!/usr/bin/env python3
"""Writes the interface icons (SVG) into ../img/assets and the logo sources into this folder.

Every icon is drawn here from a few shared glyphs so that all states of a button
(normal, hover, pressed, disabled, checked) stay pixel-identical apart from colour.
Grid: 24 x 24 unless noted, strokes 1.5-2 px, round caps and joins.
Run with a Python that has fontTools (the logo wordmark is taken from Noto Sans CJK Bold).
"""
import math
import os

HERE = os.path.dirname(os.path.abspath(__file__))
ASSETS = os.path.join(HERE, "..", "img", "assets")

TEAL = "#004B6A"
TEAL_DARK = "#003A52"
TEAL_LIGHT = "#D7E7EE"
TEAL_LIGHTER = "#E5EEF2"
GREY_DARK = "#4D4D4D"
GREY = "#7C7C7C"
GREY_LIGHT = "#ACACAC"
DISABLED = "#C7C7C7"
WHITE = "#FFFFFF"
GREEN = "#58DB6D"
AMBER = "#F9BF37"
RED = "#FF6058"
RED_DARK = "#E0473F"


def svg(body, w=24, h=24, vb=None):
    vb = vb or (w, h)
    return ('<svg xmlns="http://www.w3.org/2000/svg" width="%g" height="%g" viewBox="0 0 %g %g">\n%s\n</svg>\n'
            % (w, h, vb[0], vb[1], body))


def write(name, text, folder=ASSETS):
    with open(os.path.join(folder, name), "w") as f:
        f.write(text)


def stroke(d, c, sw=1.5):
    return ('<path d="%s" fill="none" stroke="%s" stroke-width="%g" stroke-linecap="round" '
            'stroke-linejoin="round"/>' % (d, c, sw))


def fill(d, c):
    return '<path d="%s" fill="%s"/>' % (d, c)


def rounded_fill(d, c, r=1.5):
    """A filled shape whose corners are rounded by a stroke of the same colour."""
    return ('<path d="%s" fill="%s" stroke="%s" stroke-width="%g" stroke-linejoin="round"/>'
            % (d, c, c, r))


def circle(cx, cy, r, c):
    return '<circle cx="%g" cy="%g" r="%g" fill="%s"/>' % (cx, cy, r, c)


def ring(cx, cy, r, c, sw=1.5):
    return '<circle cx="%g" cy="%g" r="%g" fill="none" stroke="%s" stroke-width="%g"/>' % (cx, cy, r, c, sw)


def chip(c, size=24, radius=4):
    return '<rect width="%g" height="%g" rx="%g" fill="%s"/>' % (size, size, radius, c)


# ---------------------------------------------------------------- title bar
def g_minimize(c):
    return stroke("M7 12h10", c)


def g_maximize(c):
    return '<rect x="7" y="7" width="10" height="10" rx="1.5" fill="none" stroke="%s" stroke-width="1.5"/>' % c


def g_restore(c):
    return ('<rect x="6.5" y="9" width="8.5" height="8.5" rx="1.5" fill="none" stroke="%s" stroke-width="1.5"/>' % c
            + stroke("M9.5 6.5h6.5a1.5 1.5 0 0 1 1.5 1.5v6.5", c))


def g_close(c, sw=1.5):
    return stroke("M7.5 7.5l9 9M16.5 7.5l-9 9", c, sw)


def title_bar():
    for name, glyph in (("Minimize", g_minimize), ("Maximize", g_maximize), ("Restore", g_restore)):
        write("btn_Nav_%s.svg" % name, svg(glyph(GREY_DARK)))
        write("btn_Nav_%s_Hover.svg" % name, svg(chip("#EBEEF0") + glyph(TEAL)))
        write("btn_Nav_%s_Pressed.svg" % name, svg(chip("#D5DEE3") + glyph(TEAL_DARK)))
    write("btn_Nav_CloseWindow.svg", svg(g_close(GREY_DARK)))
    write("btn_Nav_CloseWindow_Hover.svg", svg(chip(RED) + g_close(WHITE)))
    write("btn_Nav_CloseWindow_Pressed.svg", svg(chip(RED_DARK) + g_close(WHITE)))
    # For the teal title bars of dialogs.
    write("btn_Nav_CloseWindow_White.svg", svg(g_close(WHITE)))
    write("btn_Nav_CloseWindow_White_Hover.svg", svg(chip(RED) + g_close(WHITE)))
    write("btn_Nav_CloseWindow_White_Pressed.svg", svg(chip(RED_DARK) + g_close(WHITE)))


# ---------------------------------------------------------------- play bar
def g_play(c):
    return rounded_fill("M9 6.5L18 12L9 17.5Z", c, 2)


def g_pause(c):
    return ('<rect x="7.5" y="6.5" width="3" height="11" rx="1" fill="%s"/>'
            '<rect x="13.5" y="6.5" width="3" height="11" rx="1" fill="%s"/>' % (c, c))


def g_prev(c):
    return ('<rect x="6.5" y="6.5" width="2" height="11" rx="1" fill="%s"/>' % c
            + rounded_fill("M17.5 7L10.5 12L17.5 17Z", c, 1.75))


def g_next(c):
    return ('<rect x="15.5" y="6.5" width="2" height="11" rx="1" fill="%s"/>' % c
            + rounded_fill("M6.5 7L13.5 12L6.5 17Z", c, 1.75))


def g_stop(c):
    return '<rect x="7" y="7" width="10" height="10" rx="2" fill="%s"/>' % c


def g_loop(c):
    return stroke("M4.5 12.5V10a3 3 0 0 1 3-3H18.5M15.5 4l3 3-3 3"
                  "M19.5 11.5V14a3 3 0 0 1-3 3H5.5M8.5 20l-3-3 3-3", c, 1.6)


def g_record(c, dot=None):
    return ring(12, 12, 7.25, c) + circle(12, 12, 3.75, dot or c)


def g_setting(c):
    return (stroke("M5 8.5h14M5 15.5h14", c)
            + circle(9, 8.5, 2.6, c) + circle(15, 15.5, 2.6, c))


def g_frame(c):
    return '<rect x="3.25" y="4.75" width="17.5" height="14.5" rx="2.5" fill="none" stroke="%s" stroke-width="1.5"/>' % c


def px(x, y, c, size=2):
    """An event: a pixel-aligned square, crisp at 1x and 2x."""
    return '<rect x="%g" y="%g" width="%g" height="%g" fill="%s"/>' % (x, y, size, size, c)


def g_dvs(c):
    dots = ((6, 14), (9, 12), (12, 10), (15, 8), (7, 8), (12, 14), (16, 13))
    return g_frame(c) + "".join(px(x, y, c) for x, y in dots)


def g_aps(c):
    return (g_frame(c) + stroke("M6.5 16.25l3.75-4.25 3 3 1.75-1.75 2.5 3", c)
            + circle(15.5, 9, 1.5, c))


def g_fusion(c):
    dots = ((7, 8), (10, 7), (13, 9), (16, 8), (10, 10))
    return (g_frame(c) + stroke("M6.5 16.25l3.75-4.25 3 3 1.75-1.75 2.5 3", c)
            + "".join(px(x, y, c) for x, y in dots))


def play_bar():
    plain = {"play": g_play, "pause": g_pause, "prev": g_prev, "next": g_next, "stop": g_stop,
             "setting": g_setting, "DVS": g_dvs, "APS": g_aps, "Fusion": g_fusion}
    for name, glyph in plain.items():
        write("btn_playbar_%s.svg" % name, svg(glyph(GREY_DARK)))
        write("btn_playbar_%s_hover.svg" % name, svg(glyph(TEAL)))
        write("btn_playbar_%s_disable.svg" % name, svg(glyph(DISABLED)))
    # Loop: checked means on, shown as a teal glyph on a light teal chip.
    write("btn_playbar_loop.svg", svg(g_loop(GREY_DARK)))
    write("btn_playbar_loop_hover.svg", svg(g_loop(TEAL)))
    write("btn_playbar_loop_disable.svg", svg(g_loop(DISABLED)))
    write("btn_playbar_loop_checked.svg", svg(chip(TEAL_LIGHT) + g_loop(TEAL)))
    write("btn_playbar_loop_checked_hover.svg", svg(chip("#C3D9E3") + g_loop(TEAL_DARK)))
    write("btn_playbar_loop_checked_disable.svg", svg(chip("#EFEFEF") + g_loop(DISABLED)))
    # Record: checked means recording, in red.
    write("btn_playbar_record.svg", svg(g_record(GREY_DARK, RED)))
    write("btn_playbar_record_hover.svg", svg(g_record(TEAL, RED)))
    write("btn_playbar_record_disable.svg", svg(g_record(DISABLED)))
    write("btn_playbar_record_checked.svg", svg(g_record(RED)))
    write("btn_playbar_record_checked_hover.svg", svg(g_record(RED_DARK)))
    write("btn_playbar_record_checked_disable.svg", svg(g_record(DISABLED)))


# ---------------------------------------------------------------- side bar
def g_display(c):
    return ('<rect x="3.25" y="4.25" width="17.5" height="12.5" rx="2" fill="none" stroke="%s" stroke-width="1.5"/>' % c
            + stroke("M8.5 20h7M12 17v3", c))


def g_sensor(c):
    pins = "M10 3.5v2.5M14 3.5v2.5M10 18v2.5M14 18v2.5M3.5 10h2.5M3.5 14h2.5M18 10h2.5M18 14h2.5"
    dots = ((9, 9), (13, 9), (11, 11), (9, 13), (13, 13))
    return ('<rect x="6" y="6" width="12" height="12" rx="2" fill="none" stroke="%s" stroke-width="1.5"/>' % c
            + stroke(pins, c) + "".join(px(x, y, c) for x, y in dots))


def g_aperture(c):
    cx = cy = 12.0
    R = 8.5
    r = 3.6
    pts = [(cx + r * math.cos(math.radians(90 + 60 * k)), cy - r * math.sin(math.radians(90 + 60 * k)))
           for k in range(6)]
    d = ""
    for k in range(6):
        x0, y0 = pts[k]
        x1, y1 = pts[(k + 1) % 6]
        dx, dy = x1 - x0, y1 - y0
        n = math.hypot(dx, dy)
        dx, dy = dx / n, dy / n
        # Extend the hexagon edge from its start point to the outer circle.
        fx, fy = x0 - cx, y0 - cy
        b = fx * dx + fy * dy
        t = -b + math.sqrt(b * b - (fx * fx + fy * fy - R * R))
        d += "M%.2f %.2fL%.2f %.2f" % (x0, y0, x0 + t * dx, y0 + t * dy)
    return ring(cx, cy, R, c) + stroke(d, c, 1.4)


def g_gear(c):
    cx = cy = 12.0
    teeth = 8
    ro, ri = 9.0, 6.9
    pts = []
    for k in range(teeth):
        a = 2 * math.pi * k / teeth
        for da, rr in ((-0.17, ri), (-0.11, ro), (0.11, ro), (0.17, ri)):
            pts.append((cx + rr * math.cos(a + da + 0.0), cy + rr * math.sin(a + da)))
    # Root arcs between teeth are approximated by the polygon; the round join softens them.
    d = "M" + "L".join("%.2f %.2f" % p for p in pts) + "Z"
    return stroke(d, c, 1.5) + ring(cx, cy, 2.75, c)


def side_bar():
    for name, glyph in (("display", g_display), ("dvs", g_sensor), ("aps", g_aperture), ("general", g_gear)):
        write("btn_sidebar_%s.svg" % name, svg(glyph(GREY)))
        write("btn_sidebar_%s_hover.svg" % name, svg(glyph(TEAL)))
        write("btn_sidebar_%s_checked.svg" % name, svg(glyph(WHITE)))


# ---------------------------------------------------------------- notifications
def toasts():
    write("icon_toasts_success.svg", svg(circle(12, 12, 10.5, GREEN) + stroke("M7.5 12.5l3 3 6-6.25", WHITE, 2.25)))
    write("icon_toasts_warning.svg", svg(circle(12, 12, 10.5, AMBER) + stroke("M12 7v6", WHITE, 2.5)
                                         + circle(12, 16.9, 1.45, WHITE)))
    write("icon_toasts_error.svg", svg(circle(12, 12, 10.5, RED) + stroke("M8.5 8.5l7 7M15.5 8.5l-7 7", WHITE, 2.25)))
    write("icon_toasts_close.svg", svg(stroke("M7 7l10 10M17 7L7 17", GREY, 1.75)))


# ---------------------------------------------------------------- settings widgets
def settings():
    # On/off switch, 36 x 20: "enable" is on, "disable" is off.
    def switch(track, knob_x):
        return svg('<rect width="36" height="20" rx="10" fill="%s"/>' % track
                   + '<circle cx="%g" cy="10" r="7.5" fill="#FFFFFF"/>' % knob_x, 36, 20)
    write("btn_switch_enable.svg", switch(TEAL, 26))
    write("btn_switch_disable.svg", switch(DISABLED, 10))

    plus = "M4.25 7.5h6.5M7.5 4.25v6.5"
    minus = "M4.25 7.5h6.5"
    bg = '<rect width="15" height="15" rx="3" fill="%s"/>' % TEAL
    write("btn_setting_plus.svg", svg(stroke(plus, GREY, 1.5), 15, 15))
    write("btn_setting_minus.svg", svg(stroke(minus, GREY, 1.5), 15, 15))
    write("btn_setting_plus_pressed.svg", svg(bg + stroke(plus, WHITE, 1.5), 15, 15))
    write("btn_setting_minus_pressed.svg", svg(bg + stroke(minus, WHITE, 1.5), 15, 15))
    write("btn_setting_thumbs.svg", svg(circle(9, 9, 9, TEAL) + circle(9, 9, 3.25, WHITE), 9, 9, (18, 18)))

    # Fold button of the setting boxes: down when collapsed, up (teal) when open.
    write("bnt_arrow_down.svg", svg(stroke("M8 10.25l4 4 4-4", GREY, 1.75)))
    write("bnt_arrow_up_Pressed.svg", svg(stroke("M8 13.75l4-4 4 4", TEAL, 1.75)))


# ---------------------------------------------------------------- misc
def misc():
    write("btn_search.svg", svg(ring(10.75, 10.75, 5.75, GREY, 1.75) + stroke("M15 15l4.25 4.25", GREY, 1.75)))
    write("btn_camera.svg", svg(
        '<rect x="3" y="7" width="18" height="12.5" rx="2.5" fill="none" stroke="%s" stroke-width="1.5"/>' % TEAL
        + stroke("M8.5 7l1.25-2.25h4.5L15.5 7", TEAL) + ring(12, 13.25, 3.5, TEAL) + circle(17.75, 10, 0.9, TEAL)))
    write("icon_folder.svg", svg(stroke(
        "M3.5 7.5a2 2 0 0 1 2-2h3.75l2 2H18.5a2 2 0 0 1 2 2v8a2 2 0 0 1-2 2h-13a2 2 0 0 1-2-2zM3.5 10h17", TEAL)))
    write("icon_combo_arrow.svg", svg(stroke("M3 4.75l3 3 3-3", GREY, 1.5), 12, 12))
    write("icon_check.svg", svg(stroke("M2.5 6.25l2.4 2.4L9.5 3.75", TEAL, 1.75), 12, 12))
    write("icon_menu_arrow.svg", svg(stroke("M4.75 3l3 3-3 3", GREY, 1.5), 12, 12))


# ---------------------------------------------------------------- logos
def mark(x, y, s, bg=TEAL, fg=WHITE):
    """The Vexadin mark in an s x s square at (x, y): a V whose right arm ends in an event dot."""
    k = s / 64.0
    return ('<g transform="translate(%g %g) scale(%g)">'
            '<rect width="64" height="64" rx="14" fill="%s"/>'
            '<path d="M16 18L31 46L42.5 24.5" fill="none" stroke="%s" stroke-width="8" '
            'stroke-linecap="round" stroke-linejoin="round"/>'
            '<circle cx="48.5" cy="14.5" r="5" fill="%s"/></g>' % (x, y, k, bg, fg, fg))


def wordmark_path(text, x, baseline, cap_height):
    from fontTools.ttLib import TTCollection
    from fontTools.pens.svgPathPen import SVGPathPen
    from fontTools.pens.transformPen import TransformPen
    coll = TTCollection("/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc")
    font = coll.fonts[2]
    glyphs = font.getGlyphSet()
    cmap = font.getBestCmap()
    scale = cap_height / font["OS/2"].sCapHeight
    pen = SVGPathPen(glyphs)
    pos = 0.0
    for ch in text:
        name = cmap[ord(ch)]
        t = TransformPen(pen, (scale, 0, 0, -scale, x + pos * scale, baseline))
        glyphs[name].draw(t)
        pos += glyphs[name].width - 8  # slightly tighter than the text setting
    return pen.getCommands(), (pos + 8) * scale


def logos():
    # Square window icon, 128 x 128 source (rendered to PNG by make_art.sh).
    write("logo_navigate.svg", svg(mark(0, 0, 128), 128, 128), HERE)
    # Splash logo, 300 x 80: mark and wordmark, teal on transparent.
    d, width = wordmark_path("Vexadin", 0, 0, 36)
    body = mark(8, 10, 60) + ('<path transform="translate(84 58)" d="%s" fill="%s"/>' % (d, TEAL))
    write("logo_system_version.svg", svg(body, 300, 80), HERE)
    print("wordmark width", width)


if __name__ == "__main__":
    os.makedirs(ASSETS, exist_ok=True)
    title_bar()
    play_bar()
    side_bar()
    toasts()
    settings()
    misc()
    logos()
