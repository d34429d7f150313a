# The build testing frameworks expect: "make [-jN] [EXE=path] [CXX=compiler]"
# builds the Release engine through the CMake build and copies it to EXE.
# With g++ the build is profile-guided (bench/pgo-build.sh: an instrumented
# build, a short benchmark, the build again with its profile), which makes
# the engine several per cent faster; PGO=0, or another compiler, builds in
# one pass.
# Each compiler gets a build folder of its own under build-make/, so a
# folder configured for one compiler is never reused by another.  The job
# count of -jN reaches the inner build through make's job server.  CMake
# stays the main build; this one leaves the tests out.

# Windows (MSYS2's MinGW shell) names programs with ".exe".
exe_suffix := $(if $(filter Windows_NT,$(OS)),.exe,)

EXE ?= ./orvane$(exe_suffix)
CXX ?= g++
PGO ?= 1

# The compiler name with path separators and blanks made harmless.
empty :=
space := $(empty) $(empty)
compiler_tag := $(subst $(space),_,$(subst /,_,$(strip $(CXX))))
build_dir := build-make/$(compiler_tag)
# g++ names itself in its version text; clang's profiles need another tool.
is_gcc := $(shell $(CXX) --version 2>/dev/null | grep -q "Free Software Foundation" && echo yes)

.PHONY: all clean

# The inner build runs on every call.  In one pass it does only what
# changed, and the leading "+" hands it the job server of -jN; the
# profile-guided passes rebuild everything, with as many jobs as cores.
all:
ifeq ($(PGO)$(is_gcc),1yes)
	bash bench/pgo-build.sh $(build_dir) -G "Unix Makefiles" -DCMAKE_CXX_COMPILER="$(CXX)"
else
	cmake -S . -B $(build_dir) -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_CXX_COMPILER="$(CXX)" -DORVANE_TESTS=OFF -DORVANE_PGO=
	+cmake --build $(build_dir) --target orvane
endif
	mkdir -p "$(dir $(EXE))"
	cp $(build_dir)/orvane$(exe_suffix) "$(EXE)"

clean:
	rm -rf build-make
