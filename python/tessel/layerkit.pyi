"""The layer-name language, nine-slice images and JSON text."""

import json as json
import re as re
from typing import Any, Iterable, Optional, Tuple

from PIL import Image as Image

#: Border widths in pixels: (top, right, bottom, left).
_Scale9 = Tuple[int, int, int, int]

#: The type words of layer names, each written with an underscore ("Label_").
allTypes: list[str]
#: Four scale-9 border numbers in a name: "_top,right,bottom,left".
scale9Param: re.Pattern[str]
#: A run of Chinese characters.
reChinese: re.Pattern[str]
#: The image-path parameter "_P," and its value (group 1).
reImgPath: re.Pattern[str]
#: The patterns cleanLayerName removes, in this order.
nameRepList: list[re.Pattern[str]]

def comboStr(strList: Iterable[object]) -> str:
    """The type-word alternation "(A_)|(B_)|..." over the items' text forms."""

def cleanLayerName(name: str) -> str:
    """The base name: `name` with every pattern of `nameRepList` removed, in list order."""

def getScale9Params(name: str) -> Optional[_Scale9]:
    """The scale-9 borders (top, right, bottom, left) written in `name`, or None."""

def crop2Scale9Image(srcImg: Image.Image, params: _Scale9) -> Image.Image:
    """The nine-slice RGBA image of `srcImg` for borders (top, right, bottom, left)."""

def exportDict2Json(data: Any) -> str:
    """The JSON text of `data`, ASCII only and indented by four, as json.dumps writes it."""

def exportDict2Binary(data: Any) -> None:
    """The binary form: not produced; returns None."""
