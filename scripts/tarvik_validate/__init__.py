"""Validation report of a tarvik run against the panel it copied from.

readers: the run's files, the panel and the genetic map, read by tarvik's
conventions; stats: the numbers; report and figures: the HTML page, the TSV
and the plots; cli: the command line (scripts/validate.py is its entry point).
"""
