#!/bin/sh
# A search over N local https:// engines (nginx with TLS, one worker, a
# self-signed certificate made for the run and trusted with --cacert) against
# curl --parallel fetching the same N URLs: bench/search_vs_curl.sh with
# SCHEME=https, so everything said there holds (an existing settings folder,
# alternating order, every round, medians). wavetrap-cli trusts the system's
# store as well as --cacert, but reads the store's bundle file only when a
# chain needs a certificate from it: here never; curl's --cacert replaces the
# store.
#
#   bench/search_https_vs_curl.sh [BUILD_DIR] [ENGINES] [PAGE_BYTES] [ROUNDS]
#   defaults: build, 50 engines, 1 MB pages, 5 rounds
SCHEME=https exec "$(dirname "$0")/search_vs_curl.sh" "$@"
