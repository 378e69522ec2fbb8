# Converts every TIFF file in a folder to a ZOLT file beside it, as many at
# once as make -j allows:
#   make -j"$(nproc)" -f convert.mk DIR=images
# Only files whose TIFF is newer than their ZOLT file are converted again.
# Outputs are replaced atomically, so an interrupted make leaves no half
# file behind and is safe to run again.
DIR ?= .
ZOLTENC ?= zoltenc

all: $(patsubst %.tif,%.zolt,$(wildcard $(DIR)/*.tif))

# One thread each: make already runs a conversion per processor.
%.zolt: %.tif
	ZOLT_THREADS=1 $(ZOLTENC) $< $@

.PHONY: all
