#!/bin/sh
# Prepares the stage of a build: build/stage emptied of its files (its sub-directories stay), the
# shared assets linked in as build/stage/shared, and where that link leads shown. Run it in the
# folder that holds build/ and assets/, with prepFolder, mountDir and finalName on the PATH. It
# stops at the first failure with that command's exit code and message.
set -e

prepFolder ./build/stage -D

mountDir build/stage/shared assets -L

shared=$(finalName build/stage/shared)
echo "shared assets are in $shared"
