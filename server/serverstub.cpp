int clipnoteServerStub() { return 0; }
