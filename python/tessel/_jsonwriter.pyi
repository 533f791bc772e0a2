"""The host's JSON writer: json.dumps' layout from one native pass."""

from typing import Any, Callable, Optional, Union

def dumps(
    data: Any,
    indent: Union[int, str, None],
    default: Optional[Callable[[Any], Any]],
    ensure_ascii: bool = False,
) -> str:
    """JSON text of `data` laid out as json.dumps(data, indent=indent, default=default,
    ensure_ascii=ensure_ascii) lays it out; `default` turns every value without JSON
    form into one, at any depth. With ensure_ascii false, text is written raw and
    only lone surrogates are escaped, so the result always encodes to UTF-8."""

def dumpb(
    data: Any,
    indent: Union[int, str, None],
    default: Optional[Callable[[Any], Any]],
    ensure_ascii: bool = False,
) -> bytes:
    """dumps(...).encode('utf-8'), made without the text object in between."""
