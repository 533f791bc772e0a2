#include "layerkit/layerkit.hpp"

#include "host/names.hpp"

namespace {

host::Name kScale9Param("scale9Param"), kSearch("search"), kGroup("group");

/// (top, right, bottom, left) from the first scale-9 suffix of `name`, or None.
py::object get_scale9_params(py::handle name) {
    py::object match = host::call_method(host::get(host::module(), kScale9Param), kSearch, name);
    if (match.is_none()) return py::none();
    py::object group = host::get(match, kGroup);
    // int() of the captured text: leading zeros drop, any Unicode decimal digit counts.
    return py::make_tuple(py::int_(group(1)), py::int_(group(2)), py::int_(group(3)), py::int_(group(4)));
}

/// A border width as a C++ integer; anything int() would not take as an index fails
/// with Python's own TypeError.
long border(py::handle params, int i) {
    py::object item = params[py::int_(i)];
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(item.ptr()));
    if (!index) throw py::error_already_set();
    long value = PyLong_AsLong(index.ptr());
    if (value == -1 && PyErr_Occurred()) throw py::error_already_set();
    return value;
}

/// The four corners, the four one-pixel edges at column `left` / row `top`, and the
/// one-pixel centre, packed into a (left + right + 1) x (top + bottom + 1) RGBA image.
py::object crop_to_scale9(py::handle src, py::handle params) {
    const long top = border(params, 0), right = border(params, 1);
    const long bottom = border(params, 2), left = border(params, 3);
    const long w = left + right + 1, h = top + bottom + 1;
    const auto [W, H] = host::image::size(src);
    py::object result = host::image::new_rgba(w, h);

    struct Piece {
        long x0, y0, x1, y1, x, y;
    };
    const Piece pieces[9] = {
        {0, 0, left, top, 0, 0},
        {left, 0, left + 1, top, left, 0},
        {W - right, 0, W, top, w - right, 0},
        {0, top, left, top + 1, 0, top},
        {left, top, left + 1, top + 1, left, top},
        {W - right, top, W, top + 1, w - right, top},
        {0, H - bottom, left, H, 0, h - bottom},
        {left, H - bottom, left + 1, H, left, h - bottom},
        {W - right, H - bottom, W, H, w - right, h - bottom},
    };
    // All nine are cut before any is pasted; crop returns copies, so `src` is never touched.
    py::object cut[9];
    for (int i = 0; i < 9; ++i) cut[i] = host::image::crop(src, pieces[i].x0, pieces[i].y0, pieces[i].x1, pieces[i].y1);
    for (int i = 0; i < 9; ++i) {
        const auto [pw, ph] = host::image::size(cut[i]);
        if (pw == 0 || ph == 0) continue;  // a zero border: nothing to place
        py::object piece = cut[i];
        // Pasting without a mask copies pixels, alpha included; an RGBA piece keeps its
        // alpha exactly, any other mode gets its own RGBA form (opaque for RGB).
        if (!host::image::mode(piece).equal(py::str("RGBA"))) piece = host::image::convert(piece, "RGBA");
        host::image::paste(result, piece, pieces[i].x, pieces[i].y);
    }
    return result;
}

}  // namespace

void bind_scale9(py::module_ &m) {
    m.def("crop2Scale9Image", &crop_to_scale9, py::arg("srcImg"), py::arg("params"),
          "The nine-slice RGBA image of `srcImg` for borders (top, right, bottom, left).");
    m.def("getScale9Params", &get_scale9_params, py::arg("name"),
          "The scale-9 borders (top, right, bottom, left) written in `name`, or None.");
}
