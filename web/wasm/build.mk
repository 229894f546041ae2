# Compiles the library sources, the explorer's entry and the fitting stand-in
# with Emscripten and links them into occusim.js + occusim.wasm. Called by
# scripts/web.sh from the repository root: make -f web/wasm/build.mk OUT=... OBJ=... INC=...
OUT ?= build/web
OBJ ?= build/web-obj
INC ?= $(OBJ)/include

SOURCES := $(filter-out src/main.cpp,$(shell find src -name '*.cpp' | sort))
OBJECTS := $(patsubst src/%.cpp,$(OBJ)/src/%.o,$(SOURCES)) $(OBJ)/web/entry.o $(OBJ)/web/nlopt_stand_in.o

CXXFLAGS := -std=c++20 -O2 -fexceptions -DNDEBUG -Wall -Wextra -Wpedantic -Wshadow \
  -include web/wasm/charconv_compat.hpp -Isrc -isystem $(INC) -isystem /usr/include/eigen3 -MMD -MP
LDFLAGS := -O2 -fexceptions -sMODULARIZE=1 -sEXPORT_NAME=createOccusim -sALLOW_MEMORY_GROWTH=1 \
  -sENVIRONMENT=web,node \
  -sEXPORTED_FUNCTIONS=_occusim_run,_occusim_wald_power,_malloc,_free \
  -sEXPORTED_RUNTIME_METHODS=ccall,UTF8ToString

all: $(OUT)/occusim.js

$(OUT)/occusim.js: $(OBJECTS)
	@mkdir -p $(OUT)
	em++ $(LDFLAGS) $(OBJECTS) -o $@

$(OBJ)/src/%.o: src/%.cpp web/wasm/charconv_compat.hpp
	@mkdir -p $(dir $@)
	em++ $(CXXFLAGS) -c $< -o $@

$(OBJ)/web/entry.o: web/wasm/entry.cpp web/wasm/charconv_compat.hpp
	@mkdir -p $(dir $@)
	em++ $(CXXFLAGS) -c $< -o $@

$(OBJ)/web/nlopt_stand_in.o: web/wasm/nlopt_stand_in.c
	@mkdir -p $(dir $@)
	emcc -O2 -Wall -Wextra -isystem $(INC) -c $< -o $@

-include $(OBJECTS:.o=.d)
