// Module entry: filled in below.
