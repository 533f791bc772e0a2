"""The digest of an image's content: equal digests, equal images."""

import hashlib


def image_digest(image) -> str:
    """sha1 over the image's mode, size and raw bytes (and palette, which gives indexed bytes their colours)."""
    h = hashlib.sha1()
    h.update(f"{image.mode}\0{image.size[0]}\0{image.size[1]}\0".encode("ascii"))
    h.update(image.tobytes())
    if image.mode in ("P", "PA"):
        h.update(bytes(image.getpalette() or ()))
    return h.hexdigest()
