"""The export road's steps, which tessel.export calls in order for each document."""
