"""What looks at an export: the preview picture and the check against Photoshop's composite."""
