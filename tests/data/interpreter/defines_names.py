seen = (__name__, __file__, earlier * 2)
