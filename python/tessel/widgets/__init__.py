"""Working engine widgets from the type words of group names (the export's ``components`` option).

tessel.widgets.steps holds the pass the export road runs; the other modules hold one widget family each
(buttons and toggles, progress bars, scroll views and lists), the component objects, the node tree
and the reading of names and arrangements.
"""
