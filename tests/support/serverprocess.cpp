// A real clipnote-server process for a test: see serverprocess.h.
