# Set-up, build, run and test wrapper. Every target first installs what is missing.
MAKEFLAGS  += --no-print-directory
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS       ?= 2
CARD       ?= $(BUILD)/sample-cards/record
FUZZ_SECONDS ?= 120

CLANG := CC=clang-14 CXX=clang++-14
ABS_BUILD := $(abspath $(BUILD))

.PHONY: all deps build sample-cards run test test-asan bench fuzz tsan clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

sample-cards: build
	@scripts/make-sample-cards $(BUILD)/tools/cardgen/cardgen $(BUILD)/sample-cards

run: sample-cards
	$(BUILD)/app/zidavova-viewer "$(CARD)"

# The whole suite under a virtual display, then the core tests and short fuzz
# runs again under AddressSanitizer and UBSan.
test: build
	cd $(BUILD) && xvfb-run -a -s "-screen 0 1920x1080x24" ctest --output-on-failure -j$(JOBS)
	@$(MAKE) --no-print-directory test-asan

test-asan: build
	@$(CLANG) cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DZV_GUI=OFF -DZV_SANITIZE=ON -DZV_FUZZ=ON \
		-DZV_FIXTURE_DIR=$(ABS_BUILD)/fixtures -DZV_CARDGEN=$(ABS_BUILD)/tools/cardgen/cardgen >/dev/null
	@cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j$(JOBS)

bench: build
	@scripts/run-bench $(BUILD)

fuzz: build
	@$(CLANG) cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DZV_GUI=OFF -DZV_SANITIZE=ON -DZV_FUZZ=ON \
		-DZV_FIXTURE_DIR=$(ABS_BUILD)/fixtures -DZV_CARDGEN=$(ABS_BUILD)/tools/cardgen/cardgen >/dev/null
	@cmake --build $(ASAN_BUILD) -j$(JOBS)
	@scripts/run-fuzz $(ASAN_BUILD) $(FUZZ_SECONDS)

tsan: build
	@$(CLANG) cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZV_GUI=OFF -DZV_TSAN=ON \
		-DZV_FIXTURE_DIR=$(ABS_BUILD)/fixtures -DZV_CARDGEN=$(ABS_BUILD)/tools/cardgen/cardgen >/dev/null
	@cmake --build $(TSAN_BUILD) -j$(JOBS)
	cd $(TSAN_BUILD) && ctest --output-on-failure -L stress

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)
