"""The benchmark document: a generated layered PSD like a real UI design, cached under build/bench/."""

import contextlib
import os
import random
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
CACHE = os.path.join(HERE, os.pardir, "build", "bench")
CANVAS = 2048
# Share of pixel layers per size band (width and height drawn independently).
SIZE_BANDS = ((0.45, 16, 64), (0.40, 64, 256), (0.12, 256, 512), (0.03, 512, 1024))
# Bumped whenever the generated document changes, so a stale cache is not reused.
DOC_VERSION = 1


def _content(width, height, rng, flat):
    from PIL import Image, ImageChops

    if flat:
        return Image.new("RGBA", (width, height), (rng.randrange(256), rng.randrange(256), rng.randrange(256), 255))
    shade = Image.linear_gradient("L").resize((width, height))
    noise = Image.effect_noise((width, height), 12)
    mixed = ImageChops.add(shade, noise, 2)
    # Transparent fringe where the gradient is dark, as cut-out art has.
    alpha = shade.point(lambda v: 255 if v > 24 else v * 10)
    return Image.merge("RGBA", (shade, noise, mixed, alpha))


def _size(rng):
    pick = rng.random()
    for share, low, high in SIZE_BANDS:
        if pick < share:
            return rng.randint(low, high), rng.randint(low, high)
        pick -= share
    return SIZE_BANDS[-1][2], SIZE_BANDS[-1][2]


def _place(rng, width, height):
    return rng.randrange(CANVAS - width + 1), rng.randrange(CANVAS - height + 1)


_PIXEL_NAMES = ("icon_{i}", "图标{i} 拷贝", "bg copy {c}", "Image_avatar{i}.png", "星星#{i}",
                "Button_btn{i}_P,common/btn", "item {i} copy", "光效{i} 副本 {c}")
_TEXTS = ("开始游戏", "Score: {i}", "设置", "Level {i}", "领取奖励", "OK")


def plan_document(layers, seed=7, flat=False):
    """A tessel.testing.Doc of about ``layers`` layers (groups included)."""
    from tessel.testing import Doc, Group, Pixel, Run, Text, utf16_length

    rng = random.Random(seed)
    # Leaves are packed five to a group at depth 4, three to a group above that.
    leaves = layers
    while leaves > 1 and leaves + sum(-(-leaves // d) for d in (5, 15, 45, 135)) + 1 > layers:
        leaves -= 1
    texts, nines = round(layers * 0.10), round(layers * 0.05)
    kinds = ["text"] * texts + ["nine"] * nines + ["pixel"] * max(leaves - texts - nines, 0)
    rng.shuffle(kinds)
    made = []
    for i, kind in enumerate(kinds):
        if kind == "text":
            text = rng.choice(_TEXTS).format(i=i)
            width, height = rng.randint(40, 400), rng.randint(20, 60)
            left, top = _place(rng, width, height)
            runs = None
            if i % 5 == 0 and len(text) > 1:
                runs = [Run(1, size=30.0, color=(1.0, 1.0, 0.8, 0.0)), Run(utf16_length(text))]
            made.append(Text(f"Label_{text}{i}", text, left=left, top=top, box=(width, height),
                             size=float(rng.choice((18, 24, 30))), justification=rng.choice((0, 1, 2)),
                             color=(1.0, rng.random(), rng.random(), rng.random()), runs=runs))
        elif kind == "nine":
            width, height = rng.randint(48, 400), rng.randint(40, 200)
            left, top = _place(rng, width, height)
            made.append(Pixel(f"Image_frame{i}_12,8,12,8", image=_content(width, height, rng, flat), left=left, top=top))
        else:
            width, height = _size(rng)
            left, top = _place(rng, width, height)
            name = rng.choice(_PIXEL_NAMES).format(i=i, c=i % 4 + 1)
            made.append(Pixel(name, image=_content(width, height, rng, flat), left=left, top=top,
                              visible=rng.random() > 0.02, opacity=rng.choice((255, 255, 255, 200))))
    level = made
    for depth, per, name in ((4, 5, "Item_cell{k}"), (3, 3, "Button_entry{k}"), (2, 3, "列表 {k}"), (1, 3, "Container_panel{k}")):
        level = [Group(name.format(k=k), level[k:k + per]) for k in range(0, len(level), per)]
    background = Pixel("bg", image=_content(CANVAS, CANVAS, rng, flat))
    return Doc(CANVAS, CANVAS, [background] + level)


@contextlib.contextmanager
def _fast_writing():
    """Leave out psd-tools work that writing the benchmark document does not need.

    psd-tools rebuilds the document's whole layer record tree for every layer
    added (quadratic: minutes at 10,000 layers), and saving renders every layer
    into the merged preview, which no export reads.  While this is active, the
    tree is rebuilt once, just before saving, and the preview stays blank.
    """
    from psd_tools import PSDImage

    update, preview, save = PSDImage._update_record, PSDImage._update_preview, PSDImage.save

    def save_updated(self, *args, **kwargs):
        update(self)
        return save(self, *args, **kwargs)

    PSDImage._update_record = lambda self: None
    PSDImage._update_preview = lambda self: None
    PSDImage.save = save_updated
    try:
        yield
    finally:
        PSDImage._update_record, PSDImage._update_preview, PSDImage.save = update, preview, save


def write_document(path, layers, flat):
    from tessel.testing import write_psd

    with _fast_writing():
        write_psd(plan_document(layers, flat=flat), path + ".part")
    os.replace(path + ".part", path)


def document(layers, flat=False):
    """Path of the cached benchmark document, written first (in a child process) when missing.

    The child keeps the generator's memory out of this process's peak RSS.
    """
    kind = "flat" if flat else "art"
    path = os.path.normpath(os.path.join(CACHE, f"export-v{DOC_VERSION}-{kind}-{layers}.psd"))
    if not os.path.exists(path):
        os.makedirs(CACHE, exist_ok=True)
        print(f"writing {path} ...", file=sys.stderr, flush=True)
        start = time.perf_counter()
        args = [sys.executable, os.path.join(HERE, "bench_export.py"), "--write-document", path, "--layers", str(layers)]
        subprocess.run(args + (["--flat"] if flat else []), check=True)
        print(f"  {time.perf_counter() - start:.0f} s, {os.path.getsize(path) / 1e6:.0f} MB", file=sys.stderr)
    return path
