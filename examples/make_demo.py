"""Write examples/demo.psd: a small 750x1334 game start screen.

    python examples/make_demo.py [output.psd]

The screen has a background, a title text layer, a nine-slice start button
with a centred text label, a group of icons (one of them a copy), a hidden
pop-up and a guides layer that is not meant for export.
"""

import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "python"))

from PIL import Image, ImageDraw  # noqa: E402

from tessel.testing import Doc, Group, Pixel, Run, Text, gradient, write_psd  # noqa: E402

WHITE = (1.0, 1.0, 1.0, 1.0)
GOLD = (1.0, 1.0, 0.82, 0.25)


def button(width, height):
    """A rounded button whose 20 px border is what the nine-slice keeps."""
    image = Image.new("RGBA", (width, height), (0, 0, 0, 0))
    draw = ImageDraw.Draw(image)
    draw.rounded_rectangle((0, 0, width - 1, height - 1), 20, fill=(40, 160, 90, 255))
    draw.rounded_rectangle((6, 6, width - 7, height - 7), 14, fill=(70, 200, 120, 255))
    return image


def icon(color):
    image = Image.new("RGBA", (64, 64), (0, 0, 0, 0))
    ImageDraw.Draw(image).ellipse((4, 4, 59, 59), fill=color, outline=(255, 255, 255, 255), width=3)
    return image


def guides():
    """Safe-area marks along the top and bottom edges of the screen."""
    image = Image.new("RGBA", (670, 1254), (0, 0, 0, 0))
    draw = ImageDraw.Draw(image)
    for y in (0, 1253):
        draw.line((0, y, 669, y), fill=(0, 255, 255, 160))
    return image


DEMO = Doc(750, 1334, [
    Pixel("bg", image=gradient((750, 1334), (24, 28, 64), (90, 40, 110))),
    Text("标题", "开始游戏", left=175, top=260, box=(400, 100), font="PingFangSC-Semibold",
         size=96.0, color=GOLD, justification=2, anti_alias=3),
    Group("start", [
        Pixel("Button_start_20,20,20,20", image=button(360, 120), left=195, top=900),
        Text("Label_start", "开始\r", left=255, top=930, box=(240, 60), font="PingFangSC-Medium",
             size=48.0, color=WHITE, justification=2,
             runs=[Run(1, font="PingFangSC-Medium", size=48.0, color=WHITE),
                   Run(2, font="PingFangSC-Medium", size=44.0, color=WHITE)]),
    ]),
    Group("icons", [
        Pixel("icon_coin", image=icon((250, 200, 40, 255)), left=60, top=80),
        Pixel("icon_gem", image=icon((60, 180, 250, 255)), left=140, top=80),
        Pixel("icon copy 2", image=icon((250, 200, 40, 255)), left=220, top=80),
    ]),
    Pixel("popup_hidden", size=(500, 300), color=(0, 0, 0, 180), left=125, top=500,
          visible=False),
    Pixel("NotExport_guides", image=guides(), left=40, top=40),
], compression="zip")


if __name__ == "__main__":
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name("demo.psd")
    write_psd(DEMO, out)
    print(f"wrote {out} ({out.stat().st_size} bytes)")
