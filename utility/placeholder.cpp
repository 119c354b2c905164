namespace utility {}
