"""Which engine's form the meta files of an earlier export have, and the refusal to mix the two.

A 3.x editor writes every meta file with "imported", "files" and "userData"
(the asset database's own keys) and keeps a sprite frame as the sub-asset
"f9941"; a 2.x meta file has none of these.  Exporting for one engine over the
other's meta files would mix two forms the editors cannot read in one folder
(and the 2.x identities would not carry over), so the export refuses it before
anything is written.
"""

from tessel import filemanager
from tessel.errors import DocumentError
from tessel.road.engine import is_3x

#: Keys only the 3.x asset database writes into a meta file.
THREE_X_KEYS = ("imported", "files", "userData")


def written_for_3x(meta):
    """Whether the meta dictionary ``meta`` has the 3.x form."""
    return isinstance(meta, dict) and any(key in meta for key in THREE_X_KEYS)


def check_form(path, meta, engine):
    """Raise a DocumentError when the meta dictionary ``meta``, read from ``path``, has the other engine line's form."""
    want_3x = is_3x(engine)
    if isinstance(meta, dict) and written_for_3x(meta) != want_3x:
        wrote = "a Creator 3.x export (--engine 3.8)" if not want_3x else "a Creator 2.x export"
        raise DocumentError(f"{path} was written by {wrote}; export --engine {engine} into another folder "
                            "or remove the earlier files")



def refuse_other_engine(prefab_meta, image_metas, engine):
    """Refuse a folder whose meta files the other engine line wrote.

    One export writes all of a document's meta files in one form, so its prefab
    meta and the first image meta found tell the form of the folder (two reads,
    however many images; the 3.x road checks each image meta as it reads it back).
    """
    check_form(prefab_meta, filemanager.json_or_none(prefab_meta), engine)
    for path in image_metas:
        meta = filemanager.json_or_none(path)
        if meta is not None:
            check_form(path, meta, engine)
            return
