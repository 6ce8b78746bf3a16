void softtse_placeholder(void) {}
