# Converts every TIFF file (.tif or .tiff, in any case) in a folder and the
# folders below it to a ZOLT file beside it (name.tif -> name.zolt), as many
# at once as make -j allows, going on past a file that fails:
#   make -k -j"$(nproc)" -f convert.mk DIR=images
# A file that fails is named ("name.tif: not converted") and make exits with
# a failure status. Only files whose TIFF is newer than their ZOLT file are
# converted again. Outputs are replaced atomically, so an interrupted make
# leaves no half file behind and is safe to run again.
# make splits names at spaces and gives meaning to quotes, $, :, %, # and
# more: a name with any character other than letters, digits and ._+,@/- is
# named and left out (status 1); xargs and GNU parallel take any name.
DIR ?= .
ZOLTENC ?= zoltenc

tiffs = find '$(DIR)' -type f \( -iname '*.tif' -o -iname '*.tiff' \)
other = *[!A-Za-z0-9._+,@/-]*
TIFFS := $(shell $(tiffs) ! -path '$(other)')

all: $(addsuffix .zolt,$(basename $(TIFFS))) other-names

# One rule a file: make's patterns are case-sensitive. One thread each: make
# already runs a conversion per processor.
define convert
$(basename $(1)).zolt: $(1)
	@ZOLT_THREADS=1 $$(ZOLTENC) $$< $$@ || { echo "$$<: not converted" >&2; exit 1; }
endef
$(foreach tiff,$(TIFFS),$(eval $(call convert,$(tiff))))

other-names:
	@$(tiffs) -path '$(other)' -exec sh -c 'printf "%s: not converted: make cannot take this name\n" "$$@" >&2; exit 1' sh {} +

.PHONY: all other-names
