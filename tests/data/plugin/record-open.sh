#!/bin/sh
# Stands in for the desktop opener: logs each document beside the document itself.
printf '%s\n' "$1" >> "${1%/*}/opened.log"
