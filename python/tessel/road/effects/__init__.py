"""Layer style effects drawn by tessel with numpy, from the layer's effect descriptors.

descriptors reads which effects a layer shows and in what order, blend mixes
colours as Photoshop's blend modes do, and overlays, strokes, shadows and
glows draw one family each; layer puts them together around a layer's
rendered content.
"""
