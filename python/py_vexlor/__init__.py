"""Compile arithmetic and logical expressions once; evaluate them many times with exact decimals."""
