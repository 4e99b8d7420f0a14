// ui
