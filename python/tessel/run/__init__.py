"""Runs over many documents: finding them, exporting them side by side, watching them, reporting on them."""
