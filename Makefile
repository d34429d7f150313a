# The build testing frameworks expect: "make [-jN] [EXE=path] [CXX=compiler]"
# builds the Release engine through the CMake build and copies it to EXE.
# Each compiler gets a build folder of its own under build-make/, so a
# folder configured for one compiler is never reused by another.  The job
# count of -jN reaches the inner build through make's job server.  CMake
# stays the main build; this one leaves the tests out.

EXE ?= ./orvane
CXX ?= g++

# The compiler name with path separators and blanks made harmless.
empty :=
space := $(empty) $(empty)
compiler_tag := $(subst $(space),_,$(subst /,_,$(strip $(CXX))))
build_dir := build-make/$(compiler_tag)

.PHONY: all clean

# The inner build runs on every call and does only what changed.  The
# leading "+" hands it the job server of -jN.
all:
	cmake -S . -B $(build_dir) -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_CXX_COMPILER="$(CXX)" -DORVANE_TESTS=OFF
	+cmake --build $(build_dir) --target orvane
	mkdir -p "$(dir $(EXE))"
	cp $(build_dir)/orvane "$(EXE)"

clean:
	rm -rf build-make
