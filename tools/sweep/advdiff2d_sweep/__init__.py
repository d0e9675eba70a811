"""Parameter studies over advdiff2d runs: planning, running, report reading, tables, plots."""
