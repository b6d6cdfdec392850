# Install rules and packages (filled in by the packaging work).
