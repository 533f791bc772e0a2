"""The export road as a library: one PSD document in, a prefab, its images and meta files out.

    from tessel.export import ExportOptions, export_psd
    result = export_psd("screen.psd", "assets/ui", ExportOptions(jobs=2))
    print(result.prefab, result.files)

``tessel export`` is a thin command over :func:`export_psd` and :func:`export_many`.
"""

import contextlib
import gc
import os
import threading
import time
from dataclasses import replace

from tessel import filemanager
from tessel.road import fileids, fonts, imagenames, leftout, share, surveys, texteffects, textlook, textplace
from tessel.road import unchanged as _unchanged
from tessel.road.engine import apply_engine, check_options
from tessel.road.engineform import form_for
from tessel.road.metaform import refuse_other_engine
from tessel.errors import DocumentError, describe
from tessel.road.imagecache import ImageCache
from tessel.road.imagefiles import ImageWriter, remove as _remove, save_images
from tessel.options import ExportOptions, ExportResult
from tessel.road.document import Inside, open_document, pixel_layers
from tessel.road.reuse import Reuse
from tessel.road.verticaltext import vertical_text_warning
from tessel.run import workers
from tessel.run.documents import document_name, find as found_documents
from tessel.run.report import Batch


# ---------------------------------------------------------------------------
# The export road


@contextlib.contextmanager
def _output_dir(outdir):
    """Relative paths the modules use (the meta files) resolve under ``outdir`` meanwhile."""
    previous = filemanager.outputDir
    filemanager.setOutputDir(outdir)
    try:
        yield
    finally:
        filemanager.outputDir = previous


def export_psd(path, outdir, options=None, *, progress=None, on_skipped=None, plan=None):
    """Export the PSD at ``path`` into ``outdir``; returns an :class:`ExportResult`.

    ``progress(name, done, total)`` is called as images are saved (from the
    saving threads); ``on_skipped(line)`` with the tree builder's line for each
    layer of a kind the export has no object for (shapes, adjustments, ...).

    Everything that can fail on the document's content (reading it, building the
    object list, reading back earlier meta files, checking every target path)
    happens before the first write.  The images are then staged under temporary
    names and only moved into place when all of them succeeded; the prefab and
    the meta files follow, each written atomically.  Into an image folder this
    export creates, images and meta files go straight to their names, and a
    failure removes the folder again (see tessel.road.imagefiles).  An image whose
    file already holds its pixels is left alone (see tessel.road.imagecache).  A
    failing document thus leaves the output folder as it found it; the error is
    a :class:`DocumentError` or the modules' own, with the failing layer in
    ``layer`` or in its notes.

    ``plan`` (tessel.road.share.plan_run) says which images the run takes from
    the library and share folders; without it, one is made for this document.
    """
    options = options or ExportOptions()
    # Checked again here: the fields may have been changed since construction.
    check_options(options)
    if options.styles:
        from tessel.road import styles

        styles.require()
    outdir = os.path.abspath(os.fspath(outdir))
    try:
        os.makedirs(outdir, exist_ok=True)
    except OSError as e:
        raise DocumentError(f"cannot create the output folder: {describe(e)}") from e
    start = time.perf_counter()
    # A share plan depends on the run's other documents and the library on its folders: no skipping with them.
    record = (_unchanged.Record(path, outdir, document_name(path), options)
              if options.image_cache and not (options.library or options.share) else None)
    same = _unchanged_result(path, record, start)
    if same is not None:
        return same
    try:
        with _output_dir(outdir):
            result = _export(os.fspath(path), outdir, options, progress, on_skipped, record, plan)
        result.seconds = time.perf_counter() - start
        return result
    finally:
        # A document's layer-info tree and prefab objects point at each other,
        # so only a full collection frees them; CPython runs one rarely, and the
        # objects of several exports would pile up in the heap meanwhile.
        gc.collect()


def unchanged_result(path, outdir, options=None):
    """The result of exporting ``path`` into ``outdir`` when the export would find it unchanged, else None."""
    options = options or ExportOptions()
    if not options.image_cache or options.library or options.share:
        return None
    start = time.perf_counter()
    return _unchanged_result(path, _unchanged.Record(path, os.path.abspath(outdir), document_name(path), options),
                             start)


def _unchanged_result(path, record, start):
    same = record.unchanged() if record else None
    if same is None:
        return None
    return ExportResult(psd=os.fspath(path), name=document_name(path), status="unchanged",
                        prefab=os.path.join(record.outdir, document_name(path) + ".prefab"),
                        kept=list(same["files"]), unchanged=same["images"], seconds=time.perf_counter() - start,
                        **same)


def _export(path, outdir, options, progress, on_skipped, record, plan):
    from tessel import nodeweave
    from tessel.road import layerview
    from tessel.widgets.steps import NoWidgets, Widgets

    name = document_name(path)
    skipped = []

    def unknown(line):
        skipped.append(line)
        if on_skipped is not None:
            on_skipped(line)

    own_plan = plan is None and bool(options.library or options.share)
    if own_plan:
        plan = share.plan_run(outdir, options, folders=[os.path.join(outdir, name)])
    psd = open_document(path, unknown, options)
    effect_warnings = layerview.effect_warnings(psd.layer, options)
    inside = Inside(outdir)

    widgets = Widgets(psd) if options.components else NoWidgets()
    naming = imagenames.settle(list(pixel_layers(psd)))
    vertical = vertical_text_warning(psd)
    nodeweave.initPsdInfo(psd)
    naming.drop_empty_sprites(psd)
    nodeweave.fixPosition(psd)
    textlook.apply(psd)
    textplace.place_point_text(psd)
    font_warnings = fonts.apply_fonts(psd, fonts.Library.open(options.fonts, options.font_map)) \
        if options.fonts or options.font_map else []
    text_effect_warnings = texteffects.add_components(psd) if options.text_effects else []
    widgets.build()
    apply_engine(psd, options.engine)
    reuse = Reuse(plan, psd, path, outdir, options, list(pixel_layers(psd)), naming,
                  keep=[sprite.layer for sprite in widgets.frames])
    prefab = psd.totalInfo[0]
    sprites = [obj for obj in psd.totalInfo if isinstance(obj, nodeweave.CCSprite)] + list(widgets.frames)
    prefab_meta = inside.check(prefab.metaPath)
    sprite_metas = [inside.check(sprite.metaPath, sprite.layer) for sprite in sprites if reuse.own(sprite.layer)]
    refuse_other_engine(prefab_meta, sprite_metas, options.engine)
    form = form_for(psd, options)
    # Reads back the UUIDs of an earlier export; a damaged meta file fails here,
    # naming itself, before anything is written.
    with form.reading_metas():
        nodeweave.refleshIdAndCreateMeta(psd)
    reuse.redirect(psd)
    widgets.link(merge=not options.fresh_meta)
    fileids.assign(psd)
    metas = reuse.own_metas(psd, form.plan_metas())

    prefab_path = inside.check(os.path.join(outdir, name + ".prefab"))
    # An existing prefab that cannot be merged into fails here, naming itself.
    merge_warnings = form.plan_prefab(prefab_path)
    folder = inside.check(os.path.join(outdir, name))
    # Layers share an image name only when their images are the same (see
    # imagenames); one of them writes it.
    targets = {}
    for layer in pixel_layers(psd):
        if layer not in naming.empty and reuse.own(layer):
            targets.setdefault(inside.check(os.path.join(folder, layer.imageName + ".png"), layer), layer)
    work = [(layer, target) for target, layer in targets.items()]
    if plan is not None and plan.share_folder:
        work += reuse.work(pixel_layers(psd), Inside(plan.share_folder))

    step = _progress_steps(progress, name, len(work))

    made_folder = not os.path.isdir(folder)
    os.makedirs(folder, exist_ok=True)
    if reuse.writes_shared():
        os.makedirs(plan.share_folder, exist_ok=True)
    level = options.png_compression
    cache = ImageCache(folder, level) if options.image_cache else None
    writer = ImageWriter(fresh=made_folder, cache=cache, compress_level=level)
    fresh = (folder, os.path.join(outdir, name)) if made_folder else ()
    try:
        with filemanager.fresh_folder(*fresh):
            staged = save_images(work, options.jobs, step, reuse.render(writer.render))
            for tmp, target in staged:
                if tmp != target:
                    os.replace(tmp, target)
            form.save_prefab(prefab_path)
            form.save_metas(metas)
            reuse.save_metas(target for _, target in staged)
            widgets.save_metas()
            cached, warnings = _save_cache(writer.cache)
    except BaseException:
        if made_folder:
            # Everything in the folder is this export's own: take it all back.
            for written in list(targets) + sprite_metas:
                _remove(written)
            with contextlib.suppress(OSError):
                os.rmdir(folder)
        raise
    images = [target for _, target in staged if reuse.own_target(target)] + writer.kept
    files = [prefab_path, prefab_meta] + images + list(dict.fromkeys(sprite_metas))
    if cached:
        files.append(writer.cache.path)
    nodes = sum(isinstance(obj, nodeweave.CCNode) for obj in psd.totalInfo)
    result = ExportResult(psd=path, name=name, prefab=prefab_path, files=files, nodes=nodes,
                          images=len(images), collisions=len(naming.warnings), skipped=skipped,
                          left_out=leftout.count_kinds(skipped), unchanged=len(writer.kept),
                          library=reuse.count("library"), shared=reuse.count("shared"),
                          bytes_saved=reuse.bytes_saved, shared_files=reuse.written,
                          warnings=(plan.warnings if own_plan else []) + list(naming.warnings)
                          + ([vertical] if vertical else []) + list(widgets.warnings) + reuse.warnings
                          + merge_warnings + warnings + font_warnings + text_effect_warnings + effect_warnings)
    if record is not None:
        result.kept = list(dict.fromkeys(record.kept(files) + writer.kept))
        with filemanager.fresh_folder(*fresh):  # into a folder this export made: no temporary file
            result.warnings.extend(_save_record(record, result, writer.cache, merge_warnings))
    return result


def _save_record(record, result, cache, once):
    """Write the record that lets an unchanged re-export skip the document; returns the warnings.

    Like the image cache, a record that cannot be written costs the next export time, not files.
    """
    try:
        record.save(result, _unchanged.png_records(cache), once)
    except OSError as e:
        return [f"cannot write the export record {record.path} ({describe(e)}); the next export will redo the document"]
    result.files.append(record.path)
    return []


def _save_cache(cache):
    """Write the image cache; returns whether it was written, and the warnings.

    A cache that cannot be written costs the next export time, not images: a warning, not a failure.
    """
    if cache is None:
        return False, []
    try:
        return cache.save(), []
    except OSError as e:
        return False, [f"cannot write the image cache {cache.path} ({describe(e)}); "
                       "unchanged images will be saved again"]


def _progress_steps(progress, name, total):
    """A step function that reports each saved image to ``progress`` (None: a no-op)."""
    if progress is None or not total:
        return lambda: None
    counter = iter(range(1, total + 1))
    lock = threading.Lock()

    def step():
        with lock:
            progress(name, next(counter), total)

    progress(name, 0, total)
    return step


def export_many(paths, outdir, options=None, *, processes=None, image_threads=None, glob=None, progress=None,
                on_skipped=None):
    """Export every document of ``paths`` (PSD files, and folders searched for them) into ``outdir``.

    Returns a :class:`tessel.run.report.Batch`: iterating it yields ``(path,
    result)`` per document in the order found, where ``result`` is its
    :class:`ExportResult` or the exception that ended it (one failing document
    does not stop the others); its ``report()`` is then the run's account as
    ``--report`` writes it.  A document under a folder exports at its path
    relative to that folder (see tessel.run.documents); a document that would
    write the prefab of an earlier one is refused before anything is written.
    ``glob`` narrows what folders give.

    ``processes`` documents run at once in worker processes (default: one per
    CPU, no more than there are documents), each saving its images on
    ``image_threads`` threads (default: the CPUs left to it; ``options.jobs`` is
    not used).  ``progress`` and ``on_skipped`` are :func:`export_psd`'s, called
    on one thread of this process.
    """
    return export_documents(found_documents(paths, outdir, glob), outdir, options, processes=processes,
                            image_threads=image_threads, progress=progress, on_skipped=on_skipped)


def export_documents(documents, outdir, options=None, *, processes=None, image_threads=None, progress=None,
                     on_skipped=None):
    """:func:`export_many` for documents already found (:class:`tessel.run.documents.Document`)."""
    handlers = {"progress": progress, "skipped": on_skipped}

    def on_event(event):
        handler = handlers[event[0]]
        if handler is not None:
            handler(*event[1:])

    return Batch(_outcomes(documents, outdir, options or ExportOptions(), processes, image_threads, on_event), outdir,
                 len(documents))


def _outcomes(documents, outdir, options, processes, image_threads, on_event):
    """(path, result) per document in order; unchanged documents are known here, without a worker for them."""
    try:
        plan = _run_plan([d.psd for d in documents if not d.refused], outdir, options)
    except DocumentError as e:
        for document in documents:
            yield document.psd, e
        return
    warnings = plan.warnings if plan is not None else []
    # Everything a worker needs travels in its job, (document, options, plan), all picklable: the
    # share plan is made over all the documents before the run.
    known = {i: unchanged_result(d.psd, d.outdir, options) for i, d in enumerate(documents) if not d.refused}
    rest = [document for i, document in enumerate(documents) if known.get(i) is None]
    processes = processes or workers.default_processes(len(rest))
    if plan is not None and plan.share_folder:
        # The first document to need a shared image writes it and the others count it as not written:
        # one after another, so that the files and the counts do not depend on which process runs first.
        processes = 1
    options = replace(options, jobs=image_threads or workers.image_threads(min(processes, len(rest)) or 1))
    exported = workers.run(_export_job, [(document, options, plan) for document in rest], processes, on_event)
    for i, document in enumerate(documents):
        result = known.get(i)
        if result is None:
            _, result = next(exported)
        if warnings and not isinstance(result, BaseException):
            # The folders' warnings are the run's: said once, with the first document.
            result.warnings[:0] = warnings
            warnings = []
        yield document.psd, result


def _export_job(job, emit):
    """One document of :func:`export_many`: ``job`` is its Document, the options and the run's share plan."""
    document, options, plan = job
    start = time.perf_counter()
    try:
        if document.refused:
            raise DocumentError(document.refused)
        return export_psd(document.psd, document.outdir, options, progress=lambda *a: emit(("progress",) + a),
                          on_skipped=lambda line: emit(("skipped", line)), plan=plan)
    except Exception as e:
        e.seconds = time.perf_counter() - start
        raise


def _run_plan(paths, outdir, options):
    """The run's :class:`tessel.road.share.Plan` (None without --library and --share).

    With a share folder every document is surveyed first, to find the images
    they have in common; one that cannot be read is left out here, and its
    export reports why.
    """
    options = options or ExportOptions()
    if not (options.library or options.share):
        return None
    known = surveys.Surveys(outdir, options)
    found = []
    for path in paths if options.share else ():
        signature = known.signature(path)
        images = known.get(path, signature)
        if images is None:
            try:
                psd = open_document(path, None, options)
                if options.components:
                    from tessel.widgets.steps import Widgets

                    Widgets(psd)
                naming = imagenames.settle(list(pixel_layers(psd)))
                images = surveys.survey(psd, list(pixel_layers(psd)), naming.empty, known.digests)
            except Exception:
                continue
            finally:
                psd = None
                gc.collect()
            known.put(path, signature, images)
        found.append(images)
    plan = share.plan_run(outdir, options, found)
    known.save()
    return plan
