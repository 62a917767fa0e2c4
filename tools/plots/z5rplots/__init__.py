"""Pictures and audio examples of the Korvane Z5R sound, measured on the
built plug-in through z5r-render."""
