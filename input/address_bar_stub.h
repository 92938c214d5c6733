// The stand-in address bar of input/address_bar_stub.cpp (the real one is a
// Win32 edit control): tests open and close it and see how often it opened.
#ifndef QV_INPUT_ADDRESS_BAR_STUB_H
#define QV_INPUT_ADDRESS_BAR_STUB_H

extern int address_bar_stub_open;        // 1 while "open"
extern int address_bar_stub_open_count;  // bars opened

// Closes the open bar as the press of vk (Enter or Esc) in it does.
void address_bar_stub_close(unsigned vk);

#endif
