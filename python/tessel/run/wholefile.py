"""Whether a PSD file is whole yet: a document is written in several steps, and a watcher must not read it half-way.

The file's sections carry their lengths: the header, the colour-mode data, the
image resources, and the layers (where the layer images live) come first; the
merged image closes the file.  A file is whole when every section fits in it
and, for a merged image stored raw or run-length encoded, when the file is
exactly as long as that image's size says.  For a deflated merged image,
whose length nothing records, the file is taken as whole once the layers are.
"""

import struct

_HEADER = struct.Struct(">4sH6xHIIHH")
_RAW, _RLE = 0, 1


def is_whole(path):
    """True when the PSD at ``path`` holds every byte its sections announce (False also when it cannot be read)."""
    try:
        with open(path, "rb") as f:
            return _whole(f)
    except (OSError, struct.error):
        return False


def _whole(f):
    size = f.seek(0, 2)
    f.seek(0)
    signature, version, channels, height, width, depth, _mode = _HEADER.unpack(f.read(_HEADER.size))
    if signature != b"8BPS" or version not in (1, 2):
        return False
    wide = version == 2  # large-document format: longer lengths
    offset = _HEADER.size
    for length_size in (4, 4, 8 if wide else 4):
        f.seek(offset)
        (length,) = struct.unpack(">Q" if length_size == 8 else ">I", f.read(length_size))
        offset += length_size + length
        if offset > size:
            return False
    f.seek(offset)
    (compression,) = struct.unpack(">H", f.read(2))
    rows = channels * height
    if compression == _RAW:
        return size == offset + 2 + rows * ((width * depth + 7) // 8)
    if compression == _RLE:
        count_size = 4 if wide else 2
        counts = f.read(rows * count_size)
        if len(counts) != rows * count_size:
            return False
        data = sum(struct.unpack(f">{rows}{'I' if wide else 'H'}", counts))
        return size == offset + 2 + len(counts) + data
    return True
