// A tiny scripted HTTP server for client tests: see scriptedserver.h.
